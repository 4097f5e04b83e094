#include "board/DisplayControllerModel.h"

#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

namespace {

uint16_t block10(const std::array<uint8_t, 6>& block)
{
    return static_cast<uint16_t>(block[4] | (block[5] & 3) << 8);
}

uint16_t le16(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

} // namespace

std::shared_ptr<DisplayControllerModel> DisplayControllerModel::create(std::shared_ptr<GpioModel> gpio,
                                                                       unsigned int powerLine)
{
    std::shared_ptr<DisplayControllerModel> model(new DisplayControllerModel(std::move(gpio), powerLine));
    std::weak_ptr<DisplayControllerModel> weak = model;
    model->m_listener = model->m_gpio->addListener([weak, powerLine](unsigned int line, int level) {
        if (line != powerLine)
            return;
        if (auto self = weak.lock())
            self->onPower(level);
    });
    return model;
}

DisplayControllerModel::DisplayControllerModel(std::shared_ptr<GpioModel> gpio, unsigned int powerLine)
    : m_gpio(std::move(gpio)), m_powerLine(powerLine)
{
}

DisplayControllerModel::~DisplayControllerModel()
{
    m_gpio->removeListener(m_listener);
}

bool DisplayControllerModel::isPowered() const
{
    return m_gpio->level(m_powerLine) != 0;
}

int DisplayControllerModel::transfer(i2c_msg* messages, size_t count)
{
    if (!isPowered())
        return -ENXIO;
    if (count == 1 && !(messages[0].flags & I2C_M_RD) && messages[0].len >= 1) {
        LightEvent event;
        bool switched = false;
        const int rc = write(messages[0].buf, messages[0].len, event, switched);
        if (rc == 0 && switched)
            runHook(event);
        return rc;
    }
    if (count == 2 && !(messages[0].flags & I2C_M_RD) && messages[0].len == 1 && (messages[1].flags & I2C_M_RD))
        return read(messages[0].buf[0], messages[1].buf, messages[1].len);
    return -EREMOTEIO;
}

int DisplayControllerModel::write(const uint8_t* bytes, size_t length, LightEvent& event, bool& switched)
{
    const uint8_t command = bytes[0];
    const uint8_t* data = bytes + 1;
    const size_t n = length - 1;
    std::lock_guard<std::mutex> lock(m_mutex);
    Registers& r = m_registers;
    auto expect = [n](size_t wanted) { return n == wanted; };
    switch (command) {
    case 0x05:
        if (!expect(1))
            return -EREMOTEIO;
        r.input.port = data[0];
        return 0;
    case 0x07:
        if (!expect(1))
            return -EREMOTEIO;
        r.input.source = data[0];
        return 0;
    case 0x10:
        if (!expect(8))
            return -EREMOTEIO;
        for (int i = 0; i < 4; ++i)
            r.input.crop[i] = le16(data + 2 * i);
        return 0;
    case 0x12:
        if (!expect(4))
            return -EREMOTEIO;
        r.input.inputWidth = le16(data);
        r.input.inputHeight = le16(data + 2);
        return 0;
    case 0x1A:
        if (!expect(1))
            return -EREMOTEIO;
        r.input.updating = data[0] != 0;
        return 0;
    case 0x2E:
        if (!expect(4))
            return -EREMOTEIO;
        r.input.displayWidth = le16(data);
        r.input.displayHeight = le16(data + 2);
        return 0;
    case 0x52: {
        if (!expect(1) || (data[0] != 0 && data[0] != 4))
            return -EREMOTEIO;
        const bool on = data[0] == 4;
        if (on != r.lightOn) {
            r.lightOn = on;
            event = recordLocked(on);
            switched = true;
        }
        return 0;
    }
    case 0x54:
        if (!expect(6))
            return -EREMOTEIO;
        std::copy(data, data + 6, r.current.begin());
        return 0;
    case 0x5C:
        if (!expect(6))
            return -EREMOTEIO;
        std::copy(data, data + 6, r.maxCurrent.begin());
        return 0;
    case 0xEB:
        if (!expect(1))
            return -EREMOTEIO;
        r.selected = data[0];
        return 0;
    case 0xEC:
        if (!expect(1))
            return -EREMOTEIO;
        r.indirect[r.selected] = data[0];
        return 0;
    default:
        return -EREMOTEIO;
    }
}

int DisplayControllerModel::read(uint8_t command, uint8_t* reply, size_t length)
{
    std::vector<uint8_t> answer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Registers& r = m_registers;
        switch (command) {
        case 0x53:
            answer = {static_cast<uint8_t>(r.lightOn ? 4 : 0)};
            break;
        case 0x55:
            answer.assign(r.current.begin(), r.current.end());
            break;
        case 0x5D:
            answer.assign(r.maxCurrent.begin(), r.maxCurrent.end());
            break;
        case 0xD0:
            answer = {r.showStatus};
            break;
        case 0xD2:
            if (length != 4 && length != 16)
                return -EREMOTEIO;
            for (const Version& v : m_versions) {
                answer.push_back(static_cast<uint8_t>(v.patch));
                answer.push_back(static_cast<uint8_t>(v.patch >> 8));
                answer.push_back(v.minor);
                answer.push_back(v.major);
            }
            break;
        default:
            return -EREMOTEIO;
        }
    }
    if (length > answer.size())
        return -EREMOTEIO;
    memcpy(reply, answer.data(), length);
    return 0;
}

void DisplayControllerModel::onPower(int level)
{
    if (level != 0)
        return;
    LightEvent event;
    bool switched = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_registers.lightOn) {
            m_registers.lightOn = false;
            event = recordLocked(false);
            switched = true;
        }
        m_registers = Registers();
    }
    if (switched)
        runHook(event);
}

DisplayControllerModel::LightEvent DisplayControllerModel::recordLocked(bool on)
{
    LightEvent event;
    event.timeNs = timespecToNs(platform().clock().now());
    event.on = on;
    event.current = block10(m_registers.current);
    event.illumLimit = m_registers.indirect[kIllumLimitRegister];
    m_events.push_back(event);
    return event;
}

void DisplayControllerModel::runHook(const LightEvent& event)
{
    LightHook hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hook = m_hook;
    }
    if (hook)
        hook(event);
}

bool DisplayControllerModel::isLightOn() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registers.lightOn;
}

uint16_t DisplayControllerModel::current() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return block10(m_registers.current);
}

uint16_t DisplayControllerModel::maxCurrent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return block10(m_registers.maxCurrent);
}

std::array<uint8_t, 6> DisplayControllerModel::currentBlock() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registers.current;
}

uint8_t DisplayControllerModel::indirectRegister(uint8_t index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registers.indirect[index];
}

DisplayControllerModel::VideoInput DisplayControllerModel::videoInput() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registers.input;
}

void DisplayControllerModel::setVersions(const Versions& versions)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_versions = versions;
}

void DisplayControllerModel::setShowStatus(uint8_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers.showStatus = status;
}

std::vector<DisplayControllerModel::LightEvent> DisplayControllerModel::lightEvents() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<DisplayControllerModel::Exposure> DisplayControllerModel::exposures() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Exposure> result;
    for (const LightEvent& event : m_events) {
        if (event.on) {
            Exposure exposure;
            exposure.onNs = event.timeNs;
            exposure.current = event.current;
            result.push_back(exposure);
        } else if (!result.empty() && result.back().isOpen()) {
            result.back().offNs = event.timeNs;
        }
    }
    return result;
}

void DisplayControllerModel::clearTimeline()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.clear();
}

void DisplayControllerModel::setLightHook(LightHook hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

} // namespace sim
