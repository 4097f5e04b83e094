#pragma once

#include "base/buses/I2C.h"
#include "base/threads/noncopyable.h"

#include <cstdint>
#include <string>

// Two analog voltages (the LED and the PRT channel) of an I2C converter.
class AdcMonitor : noncopyable
{
public:
    // 0, or -1 when already open or the device cannot be opened.
    int open(const std::string& path, uint16_t address);
    void close();

    // Volts, 0 or the failed transfer's negative errno.
    int getLEDADValue(double* volts);
    int getPRTADValue(double* volts);

private:
    int readChannel(const uint8_t config[3], const char* function, int configLine, int readLine,
                    const char* format, double* volts);

    HardwareInterface::I2C m_i2c;
};
