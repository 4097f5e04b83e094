#include "board/ScaledClock.h"

#include "base/threads/Assert.h"

#include <cmath>

namespace sim {

ScaledClock::ScaledClock(double factor) : m_factor(factor), m_originNs(timespecToNs(kernelMonotonicNow()))
{
    TALVIKS_ASSERT(std::isfinite(factor) && factor > 0);
}

timespec ScaledClock::now() const
{
    const int64_t realNs = timespecToNs(kernelMonotonicNow()) - m_originNs;
    return nsToTimespec(m_originNs + static_cast<int64_t>(static_cast<double>(realNs) * m_factor));
}

timespec ScaledClock::deadlineAfterMs(int64_t ms) const
{
    const double realNs = static_cast<double>(ms) * 1e6 / m_factor;
    return nsToTimespec(timespecToNs(kernelMonotonicNow()) + static_cast<int64_t>(std::ceil(realNs)));
}

} // namespace sim
