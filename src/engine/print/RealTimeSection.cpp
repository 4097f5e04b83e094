#include "engine/print/RealTimeSection.h"

#include "base/log/LogWriter.h"

#include <pthread.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// Above interrupt threads' default (50) would starve the kernel's own work;
// below it the light still wins over every normal thread.
constexpr int kPriority = 40;

void lockMemoryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Pages already used stay in memory; pages are locked as they are
        // touched, so nothing merely reserved is brought in.
        int flags = MCL_CURRENT;
#ifdef MCL_ONFAULT
        flags |= MCL_ONFAULT;
#endif
        if (mlockall(flags) != 0)
            logger()->write(LogWarn, "Exposure timing without locked memory: mlockall refused (%s)", strerror(errno));
    });
}

} // namespace

RealTimeSection::RealTimeSection()
{
    const pthread_t self = pthread_self();
    m_refusal = pthread_getschedparam(self, &m_policy, &m_param);
    if (m_refusal != 0)
        return;
    sched_param raised{};
    raised.sched_priority = kPriority;
    m_refusal = pthread_setschedparam(self, SCHED_FIFO, &raised);
    if (m_refusal != 0)
        return;
    m_granted = true;
    lockMemoryOnce();
}

RealTimeSection::~RealTimeSection()
{
    if (m_granted)
        pthread_setschedparam(pthread_self(), m_policy, &m_param);
}
