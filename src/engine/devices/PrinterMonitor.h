#pragma once

#include "base/threads/Mutex.h"
#include "base/threads/PThread.h"
#include "base/threads/StopSignal.h"
#include "engine/devices/Board.h"

#include <atomic>
#include <cstdint>

class MotorControl;

// What PrinterMonitor can sample, as bits.
enum MonitorType {
    Reserved = 1, // accepted, samples nothing
    Door = 2,     // GPIO 203: 1 while the door is closed
    ZLimit = 4,   // GPIO 8, set up by the motor: 0 while the limit switch is closed
    AuxInput = 8, // GPIO 158
};

// Samples the door, the Z limit switch and the auxiliary input on a thread
// of its own, one pass per millisecond, each input every `period` passes,
// and keeps the last values for the printer's queries.
class PrinterMonitor : public PThread
{
public:
    static constexpr unsigned int kDoorLine = board::kDoorLine;
    static constexpr unsigned int kLimitLine = board::kZLimitLine;
    static constexpr unsigned int kAuxLine = board::kAuxInputLine;

    // The motor is kept for the printer; the monitor does nothing with it.
    explicit PrinterMonitor(MotorControl* motor = nullptr);
    // Stops the thread and waits for it.
    ~PrinterMonitor() override;

    void addMonitor(int type, int period);
    void removeMonitor(int type);

    bool isDoorInputLow() const { return m_doorValue.load() == 0; }
    bool getAuxInput() const { return m_auxValue.load() != 0; }
    // The last limit value: 8 until the limit is sampled.
    int limitValue() const { return m_limitValue.load(); }
    MotorControl* motor() const { return m_motor; }

    // Starts the thread, joinable, with a 1 MiB stack.
    int start();

protected:
    void* threadMain() override;

private:
    // Samples a line when its turn has come; true when the value changed.
    static bool sample(unsigned int line, int period, long pass, std::atomic<int>& value);

    StopSignal m_stop;
    std::atomic<int> m_doorPeriod{0};
    std::atomic<int> m_doorValue{0};
    std::atomic<int> m_limitPeriod{0};
    std::atomic<int> m_limitValue{8};
    std::atomic<int> m_reservedPeriod{0};
    std::atomic<int> m_auxPeriod{0};
    std::atomic<int> m_auxValue{0};
    uint32_t m_monitors = 0; // guarded by m_lock
    MotorControl* const m_motor;
    mutable Mutex m_lock;
};
