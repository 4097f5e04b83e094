#include "engine/devices/PrinterMonitor.h"

#include "base/buses/Gpio.h"
#include "base/log/LogWriter.h"

#include <cstdio>

PrinterMonitor::PrinterMonitor(MotorControl* motor) : m_motor(motor)
{
    logger()->write(LogInfo, "Enter PrinterMonitor");
}

PrinterMonitor::~PrinterMonitor()
{
    m_stop.raise();
    join();
    logger()->write(LogInfo, "Leave PrinterMonitor");
}

int PrinterMonitor::start()
{
    return PThread::start(false, 1024 * 1024);
}

void PrinterMonitor::addMonitor(int type, int period)
{
    switch (type) {
    case Reserved: {
        MutexLocker locker(m_lock);
        m_monitors |= Reserved;
        m_reservedPeriod = period;
        break;
    }
    case Door: {
        m_doorPeriod = period;
        {
            MutexLocker locker(m_lock);
            m_monitors |= Door;
        }
        gpio_export(kDoorLine);
        gpio_set_dir(kDoorLine, "in");
        break;
    }
    case ZLimit: {
        m_limitPeriod = period;
        {
            MutexLocker locker(m_lock);
            m_monitors |= ZLimit;
        }
        unsigned int value = 0;
        gpio_get_value(kLimitLine, &value);
        m_limitValue = static_cast<int>(value);
        break;
    }
    case AuxInput: {
        m_auxPeriod = period;
        {
            MutexLocker locker(m_lock);
            m_monitors |= AuxInput;
        }
        gpio_export(kAuxLine);
        gpio_set_dir(kAuxLine, "in");
        unsigned int value = 0;
        gpio_get_value(kAuxLine, &value);
        m_auxValue = static_cast<int>(value);
        break;
    }
    default:
        puts("Invalid Printer Monitor Type!");
        break;
    }
    logger()->write(LogInfo, "Add Monitor (%i)", type);
}

void PrinterMonitor::removeMonitor(int type)
{
    {
        // With the pass's lock held, so no pass still in flight stores a value afterwards.
        MutexLocker locker(m_lock);
        m_monitors &= ~static_cast<uint32_t>(type);
        switch (type) {
        case Reserved:
            m_reservedPeriod = 0;
            break;
        case Door:
            m_doorPeriod = 0;
            break;
        case ZLimit:
            m_limitPeriod = 0;
            break;
        case AuxInput:
            m_auxPeriod = 0;
            m_auxValue = 0;
            break;
        default:
            break;
        }
    }
    if (type == Door)
        gpio_unexport(kDoorLine);
    else if (type == AuxInput)
        gpio_unexport(kAuxLine);
    else if (type != Reserved && type != ZLimit)
        puts("Invalid Printer Monitor Type!");
    logger()->write(LogInfo, "Remove Monitor (%i)", type);
}

bool PrinterMonitor::sample(unsigned int line, int period, long pass, std::atomic<int>& value)
{
    if (period > 0 && pass % period != 0)
        return false;
    unsigned int level = 0;
    // A failed read counts as 0.
    if (gpio_get_value(line, &level) < 0)
        level = 0;
    if (static_cast<int>(level) == value.load())
        return false;
    value = static_cast<int>(level);
    return true;
}

void* PrinterMonitor::threadMain()
{
    logger()->write(LogInfo, "Start PrinterMonitor");
    for (long pass = 1; !m_stop.raised(); ++pass) {
        {
            // The bits and the values they govern change together: removeMonitor takes this lock too.
            MutexLocker locker(m_lock);
            if ((m_monitors & Door) && sample(kDoorLine, m_doorPeriod, pass, m_doorValue))
                logger()->write(LogInfo, "Door Status: %d", m_doorValue.load());
            if ((m_monitors & ZLimit) && sample(kLimitLine, m_limitPeriod, pass, m_limitValue) &&
                m_limitValue.load() == 0)
                logger()->write(LogWarn, "Limit Status: On , And Remove Motor Timer");
            if (m_monitors & AuxInput)
                sample(kAuxLine, m_auxPeriod, pass, m_auxValue);
        }
        m_stop.sleepMs(1);
    }
    logger()->write(LogInfo, "Ended PrinterMonitor");
    return nullptr;
}
