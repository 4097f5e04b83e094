#include "board/ScaledClock.h"

#include "base/platform/ProcessSignals.h"
#include "base/threads/Assert.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

// How soon a sleeper sees a hurry.
constexpr int64_t kRecheckNs = 50 * 1000000;

} // namespace

ScaledClock::ScaledClock(double factor) : m_factor(factor), m_originNs(timespecToNs(kernelMonotonicNow()))
{
    TALVIKS_ASSERT(std::isfinite(factor) && factor > 0);
}

double ScaledClock::factor() const
{
    return m_hurriedNs.load() ? hurriedFactor() : m_factor;
}

double ScaledClock::hurriedFactor() const
{
    return std::max(m_factor, kTopFactor);
}

void ScaledClock::hurry()
{
    int64_t none = 0;
    m_hurriedNs.compare_exchange_strong(none, timespecToNs(kernelMonotonicNow()));
}

void ScaledClock::hurryOnTerminationSignals()
{
    m_watchSignals = true;
}

int64_t ScaledClock::hurriedAtNs(int64_t realNs) const
{
    int64_t hurried = m_hurriedNs.load();
    if (!hurried && m_watchSignals.load() && queuedTerminationSignals() != 0 &&
        m_hurriedNs.compare_exchange_strong(hurried, realNs))
        return realNs;
    return hurried;
}

int64_t ScaledClock::scaledNs(int64_t realNs) const
{
    return m_originNs + static_cast<int64_t>(static_cast<double>(realNs - m_originNs) * m_factor);
}

// Machine time runs at m_factor up to the hurry and at the top speed after it.
int64_t ScaledClock::machineAt(int64_t realNs, int64_t hurriedNs) const
{
    if (!hurriedNs || realNs < hurriedNs)
        return scaledNs(realNs);
    return scaledNs(hurriedNs) + static_cast<int64_t>(static_cast<double>(realNs - hurriedNs) * hurriedFactor());
}

timespec ScaledClock::now() const
{
    const int64_t realNs = timespecToNs(kernelMonotonicNow());
    return nsToTimespec(machineAt(realNs, hurriedAtNs(realNs)));
}

timespec ScaledClock::deadlineAfterMs(int64_t ms) const
{
    const int64_t realNs = timespecToNs(kernelMonotonicNow());
    const int64_t hurriedNs = hurriedAtNs(realNs);
    const double pace = !hurriedNs || realNs < hurriedNs ? m_factor : hurriedFactor();
    return nsToTimespec(realNs + static_cast<int64_t>(std::ceil(static_cast<double>(ms) * 1e6 / pace)));
}

timespec ScaledClock::recheckBy(const timespec& deadline) const
{
    if (m_hurriedNs.load())
        return deadline; // its pace changes no more
    const int64_t recheckNs = timespecToNs(kernelMonotonicNow()) + kRecheckNs;
    return timespecToNs(deadline) < recheckNs ? deadline : nsToTimespec(recheckNs);
}

} // namespace sim
