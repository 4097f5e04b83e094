#include "base/threads/TimedWait.h"

#include "base/platform/Clock.h"

#include <cerrno>

#if defined(__SANITIZE_THREAD__)
#define TALVIKS_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TALVIKS_TSAN 1
#endif
#endif

#ifdef TALVIKS_TSAN
// ThreadSanitizer does not intercept the clock-selecting waits, so it would
// lose track of who holds what. Under it, poll with the calls it knows.
namespace {

bool passed(const timespec& deadline)
{
    return timespecToNs(kernelMonotonicNow()) >= timespecToNs(deadline);
}

void pause()
{
    const timespec step{0, 200000};
    nanosleep(&step, nullptr);
}

} // namespace

int lockUntil(pthread_mutex_t* mutex, const timespec& deadline)
{
    for (;;) {
        const int rc = pthread_mutex_trylock(mutex);
        if (rc != EBUSY)
            return rc;
        if (passed(deadline))
            return ETIMEDOUT;
        pause();
    }
}

int semWaitUntil(sem_t* sem, const timespec& deadline)
{
    for (;;) {
        if (sem_trywait(sem) == 0)
            return 0;
        if (errno != EAGAIN && errno != EINTR)
            return -1;
        if (passed(deadline)) {
            errno = ETIMEDOUT;
            return -1;
        }
        pause();
    }
}

#else

int lockUntil(pthread_mutex_t* mutex, const timespec& deadline)
{
    return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
}

int semWaitUntil(sem_t* sem, const timespec& deadline)
{
    int rc;
    while ((rc = sem_clockwait(sem, CLOCK_MONOTONIC, &deadline)) != 0 && errno == EINTR) {
    }
    return rc;
}

#endif
