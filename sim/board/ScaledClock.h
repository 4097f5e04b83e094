#pragma once

#include "base/platform/Clock.h"

#include <atomic>

namespace sim {

// A machine clock that runs `factor` times faster than real time, so a test
// or the simulator lives through minutes of machine time in seconds. Machine
// time starts at the kernel's monotonic time when the clock is made and runs
// on from there; a wait of ms machine milliseconds takes ms / factor real ones.
// Install it through the platform (Platform.h) before the engine starts
// waiting, and keep it installed until every thread that reads it has ended.
//
// Once hurried, machine time runs on from where it stands at the top speed:
// a stop is answered in real time at any speed, while the engine's waits and
// the timeline still count machine time.
class ScaledClock : public Clock
{
public:
    static constexpr double kTopFactor = 100000;

    explicit ScaledClock(double factor);

    // Machine time against real time now.
    double factor() const;

    // From now on, machine time runs at the top speed.
    void hurry();
    // Hurries the clock at its first look after a termination signal was
    // caught (catchTerminationSignals), also one caught before this call.
    void hurryOnTerminationSignals();

    timespec now() const override;
    timespec deadlineAfterMs(int64_t ms) const override;
    timespec recheckBy(const timespec& deadline) const override;

private:
    // The real instant of the hurry, 0 while there was none.
    int64_t hurriedAtNs(int64_t realNs) const;
    double hurriedFactor() const;
    // Machine time at a real instant: unhurried, and with a hurry at `hurriedNs`.
    int64_t scaledNs(int64_t realNs) const;
    int64_t machineAt(int64_t realNs, int64_t hurriedNs) const;

    const double m_factor;
    const int64_t m_originNs; // kernel monotonic time at which machine time equals it
    mutable std::atomic<int64_t> m_hurriedNs{0};
    std::atomic<bool> m_watchSignals{false};
};

} // namespace sim
