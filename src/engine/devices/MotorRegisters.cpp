// The chip's registers over SPI: 5-byte frames, reads pipelined over two.
#include "engine/devices/MotorControl.h"

#include "base/log/LogWriter.h"

#include <cerrno>
#include <cstring>

int MotorControl::frame(const uint8_t tx[5], uint8_t rx[5])
{
    const int rc = m_spi.transfer(tx, rx, 5);
    if (rc < 0) {
        errno = -rc;
        return -1;
    }
    return rc;
}

int MotorControl::writeRegister(uint8_t address, const uint8_t data[4])
{
    std::lock_guard<std::mutex> lock(m_ioMutex);
    const uint8_t tx[5] = {static_cast<uint8_t>(address | 0x80), data[0], data[1], data[2], data[3]};
    uint8_t rx[5] = {};
    errno = EBADF;
    if (!m_spi.isOpen() || frame(tx, rx) < 0) {
        const int error = errno;
        logger()->write(LogError, "SPI Write Fail: REG(0x%02X), ERRNO(%i), MSG(%s)\n", address, error, strerror(error));
        return -error;
    }
    return 0;
}

int MotorControl::writeRegister32(uint8_t address, uint32_t value)
{
    const uint8_t data[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                             static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return writeRegister(address, data);
}

int MotorControl::readRegisterRaw(uint8_t address, uint8_t data[4])
{
    // Both frames in one locked transaction: the reply to the second carries
    // what the first addressed, and another frame between them would take its place.
    std::lock_guard<std::mutex> lock(m_ioMutex);
    const uint8_t request[5] = {static_cast<uint8_t>(address & 0x7F), 0, 0, 0, 0};
    const uint8_t zeros[5] = {};
    uint8_t rx[5] = {};
    errno = EBADF;
    if (!m_spi.isOpen() || frame(request, rx) < 0) {
        const int error = errno;
        logger()->write(LogError, "SPI Read Fail: REG(0x%02X), ERRNO(%i), MSG(%s)\n", address, error, strerror(error));
        return -error;
    }
    const int rc = frame(zeros, rx);
    if (rc < 0) {
        const int error = errno;
        logger()->write(LogError, "SPI Read Fail: reg (0x%02X), return (%i), MSG(%s)\n", address, rc, strerror(error));
        return -error;
    }
    memcpy(data, rx + 1, 4);
    return rx[0];
}

int MotorControl::readRegister32(uint8_t address, uint32_t* value)
{
    uint8_t data[4] = {};
    const int rc = readRegisterRaw(address, data);
    if (rc >= 0)
        *value = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
    return rc;
}
