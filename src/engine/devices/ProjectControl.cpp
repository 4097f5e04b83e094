#include "engine/devices/ProjectControl.h"

#include "base/buses/Gpio.h"
#include "base/log/LogWriter.h"
#include "base/threads/Assert.h"
#include "base/threads/PThread.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int clampCurrent(int current, const char* operation)
{
    const int held = std::max(0, std::min(ProjectControl::kMaxCurrent, current));
    if (held != current)
        logger()->write(LogWarn, "%s: current %d out of range, %d used", operation, current, held);
    return held;
}

} // namespace

uint8_t illumLimitCode(unsigned int current)
{
    if (current <= 200)
        return 0x2F;
    if (current <= 300)
        return 0x3F;
    if (current <= 400)
        return 0x47;
    if (current <= 550)
        return 0x4F;
    if (current <= 750)
        return 0x6F;
    if (current <= 900)
        return 0x77;
    return 0x7F;
}

ProjectControl::ProjectControl(const char* device) : m_device(device ? device : "")
{
    logger()->write(LogInfo, "Enter ProjectControl");
}

ProjectControl::~ProjectControl()
{
    disconnect();
    powerOff();
    logger()->write(LogInfo, "Leave ProjectControl");
}

int ProjectControl::connect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return connectLocked();
}

int ProjectControl::connectLocked()
{
    if (isConnected())
        return 0;
    if (m_i2c.open(m_device, kAddress) <= 0) {
        logger()->write(LogError, "%s, %d: %s", "connect", 40, strerror(errno));
        return -1;
    }
    return 0;
}

int ProjectControl::disconnect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_i2c.close();
}

int ProjectControl::initialize()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    connectLocked();
    if (!isConnected())
        return -1;
    if (setupVideoInput() != 0) {
        logger()->write(LogError, "Fail to initialize Project by I2C");
        return -1;
    }
    return 0;
}

int ProjectControl::i2c_write(uint8_t command, const uint8_t* data, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return sendCommand(command, data, count);
}

int ProjectControl::i2c_read(uint8_t command, uint8_t* reply, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return readReply(command, reply, count);
}

int ProjectControl::sendCommand(uint8_t command, const uint8_t* data, int count)
{
    TALVIKS_ASSERT(count >= 1 && count <= 63 && data);
    const int rc = m_i2c.writeCommand(command, data, count);
    if (rc < 0)
        logger()->write(LogError, "I2C Write Fail: reg(0x%02X), return (%i), MSG(%s)", command, -rc, strerror(-rc));
    return rc;
}

int ProjectControl::readReply(uint8_t command, uint8_t* reply, int count)
{
    TALVIKS_ASSERT(count >= 1 && count <= 63 && reply);
    const int rc = m_i2c.read(&command, 1, reply, static_cast<uint16_t>(count));
    if (rc < 0)
        logger()->write(LogError, "I2C Read Fail: reg (0x%02X), ERRNO (%i), MSG(%s)", command, -rc, strerror(-rc));
    return rc;
}

int ProjectControl::writeByte(uint8_t command, uint8_t value)
{
    return sendCommand(command, &value, 1);
}

int ProjectControl::setupVideoInput()
{
    // Input, display and crop all at 1920 × 1080, 16-bit values little-endian.
    static const uint8_t size[4] = {0x80, 0x07, 0x38, 0x04};
    static const uint8_t crop[8] = {0, 0, 0, 0, 0x80, 0x07, 0x38, 0x04};
    int result = 0;
    result |= writeByte(0x1A, 1);
    PThread::msleep(20);
    result |= sendCommand(0x12, size, 4);
    PThread::msleep(20);
    result |= sendCommand(0x2E, size, 4);
    PThread::msleep(20);
    result |= sendCommand(0x10, crop, 8);
    PThread::msleep(20);
    result |= writeByte(0x07, 0x43);
    PThread::msleep(20);
    result |= writeByte(0x05, 0x00);
    PThread::msleep(20);
    result |= writeByte(0x1A, 0);
    return result;
}

int ProjectControl::powerOn()
{
    gpio_export(kPowerLine);
    gpio_set_dir(kPowerLine, "out");
    gpio_set_value(kPowerLine, 0);
    PThread::msleep(500);
    const int rc = gpio_set_value(kPowerLine, 1);
    PThread::msleep(500);
    logger()->write(LogInfo, "Project re %s", "powerOn");
    return rc;
}

int ProjectControl::powerOff()
{
    const int rc = gpio_set_value(kPowerLine, 0);
    PThread::msleep(300);
    return rc;
}

bool ProjectControl::isPowerOn()
{
    unsigned int value = 0;
    return gpio_get_value(kPowerLine, &value) == 0 && value == 1;
}

bool ProjectControl::isPowerOff()
{
    unsigned int value = 1;
    return gpio_get_value(kPowerLine, &value) == 0 && value == 0;
}

int ProjectControl::lightOn()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return writeByte(0x52, 4);
}

int ProjectControl::lightOff()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return writeByte(0x52, 0);
}

bool ProjectControl::isLightOn()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t state = 0;
    return readReply(0x53, &state, 1) == 0 && state == 4;
}

int ProjectControl::setCurrent(int current)
{
    current = clampCurrent(current, "setCurrent");
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t block[6] = {};
    const int read = readReply(0x5D, block, 6);
    // A block that could not be read is not written, nor is the limit changed.
    if (read != 0)
        return read;
    block[4] = static_cast<uint8_t>(current & 0xFF);
    block[5] = static_cast<uint8_t>((current >> 8) & 3);
    const int rc = sendCommand(0x54, block, 6);
    logger()->write(LogInfo, "Change Projector Current (%i)", current);
    writeIndirect(2, illumLimitCode(static_cast<unsigned int>(current)));
    return rc;
}

int ProjectControl::setMaxCurrent(int current)
{
    current = clampCurrent(current, "setMaxCurrent");
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t block[6] = {};
    const int read = readReply(0x5D, block, 6);
    if (read != 0) {
        logger()->write(LogInfo, "Change Projector Max Current (%i) Error", current);
        return read;
    }
    block[4] = static_cast<uint8_t>(current & 0xFF);
    block[5] = static_cast<uint8_t>((current >> 8) & 3);
    const int rc = sendCommand(0x5C, block, 6);
    logger()->write(LogInfo, "Change Projector Max Current (%i)", current);
    return rc;
}

int ProjectControl::getCurrent(uint16_t* current)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t block[6] = {};
    const int rc = readReply(0x55, block, 6);
    *current = rc == 0 ? static_cast<uint16_t>(block[4] + 256 * block[5]) : 0;
    return rc;
}

int ProjectControl::writeIndirect(uint8_t index, uint8_t value)
{
    writeByte(0xEB, index);
    const int rc = writeByte(0xEC, value);
    if (index == 2)
        logger()->write(LogInfo, "Change Projector ILLUM_ILIM(0x%02X)", value);
    else
        logger()->write(LogInfo, "Change Projector VBIAS State Duration(0x%02X)", value);
    return rc;
}

int ProjectControl::setIllumLimit(unsigned int current)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return writeIndirect(2, illumLimitCode(current));
}

int ProjectControl::setVbiasDuration()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    writeIndirect(0x10, 0xDF);
    return writeIndirect(0x11, 0x1F);
}

int ProjectControl::printVersions(int)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t versions[16] = {};
    const int rc = readReply(0xD2, versions, 16);
    if (rc != 0)
        return rc;
    static const char* const formats[4] = {"Application Version: %i.%i.%i\n", "API Version: %i.%i.%i\n",
                                           "Software version: %i.%i.%i\n", "Sequencer Version: %i.%i.%i\n"};
    for (int i = 0; i < 4; ++i) {
        const uint8_t* record = versions + 4 * i;
        logger()->write(LogInfo, formats[i], record[3], record[2], record[0] | record[1] << 8);
    }
    return rc;
}

int ProjectControl::getSoftwareVersion()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int attempt = 0; attempt < 5; ++attempt) {
        uint8_t record[4] = {};
        if (readReply(0xD2, record, 4) == 0) {
            printf("Projector Software Version: %u.%u.%u\n", record[3], record[2],
                   static_cast<unsigned int>(record[0] | record[1] << 8));
            return 0;
        }
    }
    puts("Fail To Get Software Version");
    return -1;
}

int ProjectControl::getShowStatus(uint32_t* status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint8_t value = 0;
    if (readReply(0xD0, &value, 1) != 0) {
        logger()->write(LogError, "Fail to read Show Status(%02X)", 0xD0);
        return -1;
    }
    *status = value;
    return 0;
}

int ProjectControl::beginUpdate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return writeByte(0x1A, 1);
}

int ProjectControl::endUpdate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return writeByte(0x1A, 0);
}
