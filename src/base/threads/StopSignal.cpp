#include "base/threads/StopSignal.h"

#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <cerrno>

StopSignal::StopSignal() : m_cond(m_mutex) {}

void StopSignal::raise()
{
    MutexLocker lock(m_mutex);
    m_raised = true;
    m_cond.broadcast();
}

void StopSignal::clear()
{
    MutexLocker lock(m_mutex);
    m_raised = false;
}

bool StopSignal::sleepMs(int ms)
{
    if (ms <= 0)
        return !raised();
    return sleepUntil(platform().clock().deadlineAfterMs(ms));
}

bool StopSignal::sleepUntil(const timespec& deadline)
{
    MutexLocker lock(m_mutex);
    while (!m_raised)
        if (m_cond.waitUntil(deadline) == ETIMEDOUT)
            return !m_raised;
    return false;
}
