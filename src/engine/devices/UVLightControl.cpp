#include "engine/devices/UVLightControl.h"

#include "base/log/LogWriter.h"
#include "engine/devices/ProjectControl.h"

#include <cerrno>

uint16_t dutyToCurrent(uint32_t duty)
{
    const uint32_t percent = duty > 100 ? 100 : duty;
    return static_cast<uint16_t>(static_cast<uint32_t>(static_cast<float>(percent) / 100 * 1023));
}

UVLightControl::UVLightControl()
{
    logger()->write(LogInfo, "Enter BacklightControl");
}

UVLightControl::~UVLightControl()
{
    logger()->write(LogInfo, "leave BacklightControl");
}

bool UVLightControl::ready(const char* operation) const
{
    if (m_projectCtl)
        return true;
    logger()->write(LogError, "UV Light Not Initialized: %s refused", operation);
    return false;
}

int UVLightControl::initialize(ProjectControl* projectCtl)
{
    if (!projectCtl) {
        logger()->write(LogError, "UV Light: no projector controller");
        return -1;
    }
    m_projectCtl = projectCtl;
    projectCtl->powerOn();
    return projectCtl->initialize();
}

bool UVLightControl::lightOn()
{
    return ready("lightOn") && m_projectCtl.load()->lightOn() == 0;
}

int UVLightControl::lightOff(int)
{
    return ready("lightOff") && m_projectCtl.load()->lightOff() == 0 ? 1 : 0;
}

int UVLightControl::isLightOn()
{
    return ready("isLightOn") && m_projectCtl.load()->isLightOn() ? 1 : 0;
}

int UVLightControl::setDuty(uint32_t duty0, uint32_t, uint32_t, uint32_t)
{
    if (!ready("setDuty"))
        return -ENODEV;
    if (duty0 > 100)
        logger()->write(LogWarn, "UV Light Duty %u%% Above 100%%, 100%% Used", duty0);
    m_duty[0] = duty0 > 100 ? 100 : duty0;
    return m_projectCtl.load()->setCurrent(dutyToCurrent(duty0));
}

void UVLightControl::getDuty(uint32_t* duty0, uint32_t* duty1, uint32_t* duty2, uint32_t* duty3) const
{
    uint32_t* out[4] = {duty0, duty1, duty2, duty3};
    for (int i = 0; i < 4; ++i)
        if (out[i])
            *out[i] = m_duty[i];
}
