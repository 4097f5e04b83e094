#include "engine/devices/AdcMonitor.h"

#include "base/log/LogWriter.h"
#include "base/threads/PThread.h"

#include <cstdio>
#include <cstring>

int AdcMonitor::open(const std::string& path, uint16_t address)
{
    if (m_i2c.isOpen())
        return -1;
    return m_i2c.open(path, address) > 0 ? 0 : -1;
}

void AdcMonitor::close()
{
    if (m_i2c.isOpen())
        m_i2c.close();
}

int AdcMonitor::readChannel(const uint8_t config[3], const char* function, int configLine, int readLine,
                            const char* format, double* volts)
{
    int rc = m_i2c.write(config, 3);
    if (rc != 0) {
        logger()->write(LogError, "%s, %d: %s", function, configLine, strerror(-rc));
        return rc;
    }
    // The converter needs this long for one conversion.
    PThread::msleep(500);
    const uint8_t pointer = 0;
    uint8_t data[2] = {};
    rc = m_i2c.read(&pointer, 1, data, 2);
    if (rc != 0) {
        logger()->write(LogError, "%s, %d: %s", function, readLine, strerror(-rc));
        return rc;
    }
    const unsigned int value = data[0] * 256u + data[1];
    *volts = static_cast<int16_t>(value) * 6.250190926948562e-05 + 2.5;
    printf(format, value, *volts);
    return 0;
}

int AdcMonitor::getLEDADValue(double* volts)
{
    static const uint8_t config[3] = {0x01, 0x94, 0x83};
    return readChannel(config, "getLEDADValue", 48, 60, "LED AD VAL: 0x%02X, %lf\n", volts);
}

int AdcMonitor::getPRTADValue(double* volts)
{
    static const uint8_t config[3] = {0x01, 0xB4, 0x83};
    return readChannel(config, "getPRTADValue", 78, 89, "PRT AD VAL: 0x%02X, %lf\n", volts);
}
