#include "base/threads/Cond.h"

#include "base/log/LogWriter.h"
#include "base/platform/Platform.h"
#include "base/threads/Assert.h"

#include <cerrno>

Cond::Cond(Mutex& mutex) : _mutex(mutex)
{
    init();
}

Cond::~Cond()
{
    destory();
}

int Cond::init()
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    const int rc = pthread_cond_init(&m_cond, &attr);
    pthread_condattr_destroy(&attr);
    if (rc != 0)
        logCheck("void Cond::init()", __LINE__);
    m_destroyed = false;
    return rc;
}

int Cond::signal()
{
    const int rc = pthread_cond_signal(&m_cond);
    if (rc != 0)
        logCheck("void Cond::signal()", __LINE__);
    return rc;
}

int Cond::broadcast()
{
    const int rc = pthread_cond_broadcast(&m_cond);
    if (rc != 0)
        logCheck("void Cond::broadcast()", __LINE__);
    return rc;
}

int Cond::wait()
{
    TALVIKS_ASSERT(_mutex.isLock());
    return waitFor(nullptr);
}

int Cond::wait(int ms)
{
    TALVIKS_ASSERT(ms >0);
    TALVIKS_ASSERT(_mutex.isLock());
    const timespec deadline = platform().clock().deadlineAfterMs(ms);
    return waitFor(&deadline);
}

int Cond::waitUntil(const timespec& deadline)
{
    TALVIKS_ASSERT(_mutex.isLock());
    return waitFor(&deadline);
}

struct Cond::CancelledWait
{
    Mutex* mutex;
    bool lockerHolds; // as it was when the wait began: others may change it meanwhile
};

// A thread cancelled inside the wait gets the mutex back. A MutexLocker that
// holds it releases it as the cancellation unwinds; otherwise nobody would,
// and it is handed on here.
void Cond::releaseOnCancel(void* arg)
{
    const auto* wait = static_cast<CancelledWait*>(arg);
    wait->mutex->m_lockerHolds = wait->lockerHolds;
    if (wait->lockerHolds)
        wait->mutex->m_isLock = true;
    else
        wait->mutex->unlock();
}

int Cond::waitFor(const timespec* deadline)
{
    int rc;
    pthread_mutex_t* mutex = &_mutex.m_mutex;
    CancelledWait cancelled{&_mutex, _mutex.m_lockerHolds};
    pthread_cleanup_push(releaseOnCancel, &cancelled);
    rc = deadline ? pthread_cond_timedwait(&m_cond, mutex, deadline) : pthread_cond_wait(&m_cond, mutex);
    pthread_cleanup_pop(0);
    _mutex.m_lockerHolds = cancelled.lockerHolds;
    _mutex.m_isLock = true;
    if (rc != 0 && rc != ETIMEDOUT)
        logCheck("void Cond::wait()", __LINE__);
    return rc;
}

int Cond::destory()
{
    if (m_destroyed)
        return 0;
    const int rc = pthread_cond_destroy(&m_cond);
    if (rc != 0)
        logCheck("void Cond::destory()", __LINE__);
    else
        m_destroyed = true;
    return rc;
}
