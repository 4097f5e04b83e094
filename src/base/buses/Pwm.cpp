#include "base/buses/Pwm.h"

#include "base/buses/SysfsAttribute.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

const char kPwmDir[] = "/sys/class/pwm";

bool channelExported(unsigned int channel)
{
    char dir[256];
    snprintf(dir, sizeof dir, "%s/pwm%d", kPwmDir, static_cast<int>(channel));
    return sysfsExists(dir);
}

} // namespace

int pwm_export(unsigned int channel)
{
    if (channelExported(channel))
        return 0;
    return sysfsWrite("/sys/class/pwm/export", std::to_string(static_cast<int>(channel)), "pwm/export");
}

int pwm_unexport(unsigned int channel)
{
    if (!channelExported(channel))
        return 0;
    return sysfsWrite("/sys/class/pwm/unexport", std::to_string(static_cast<int>(channel)), "pwm/unexport");
}

int pwm_enable(unsigned int channel, unsigned int on)
{
    if (on > 1)
        return -EINVAL;
    char path[128];
    snprintf(path, sizeof path, "/sys/class/pwm/pwm%u/enable", channel);
    return sysfsWriteAttribute(path, on ? "1" : "0");
}

int pwm_set_period(unsigned int channel, int value)
{
    char path[128];
    snprintf(path, sizeof path, "%s/pwm%d/period", kPwmDir, static_cast<int>(channel));
    return sysfsWriteAttribute(path, std::to_string(value));
}

int pwm_set_duty_cycle(unsigned int channel, int value)
{
    char path[128];
    snprintf(path, sizeof path, "%s/pwm%d/duty_cycle", kPwmDir, static_cast<int>(channel));
    return sysfsWriteAttribute(path, std::to_string(value));
}
