#pragma once

#include "base/platform/Clock.h"

namespace sim {

// A machine clock that runs `factor` times faster than real time, so a test
// or the simulator lives through minutes of machine time in seconds. Machine
// time starts at the kernel's monotonic time when the clock is made and runs
// on from there; a wait of ms machine milliseconds takes ms / factor real ones.
// Install it through the platform (Platform.h) before the engine starts
// waiting, and keep it installed until every thread that reads it has ended.
class ScaledClock : public Clock
{
public:
    explicit ScaledClock(double factor);

    double factor() const { return m_factor; }

    timespec now() const override;
    timespec deadlineAfterMs(int64_t ms) const override;

private:
    const double m_factor;
    const int64_t m_originNs; // kernel monotonic time at which machine time equals it
};

} // namespace sim
