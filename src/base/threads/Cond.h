#pragma once

#include "base/threads/Mutex.h"
#include "base/threads/noncopyable.h"

#include <pthread.h>

// A condition variable tied to one Mutex, which the caller holds while waiting.
class Cond : noncopyable
{
public:
    explicit Cond(Mutex& mutex);
    ~Cond();

    int init();
    int signal();
    int broadcast();
    // Waits until signalled; the mutex is held again on return.
    int wait();
    // Waits until signalled (0) or ms milliseconds have passed (ETIMEDOUT); ms > 0.
    int wait(int ms);
    // Waits until signalled (0) or a CLOCK_MONOTONIC instant has passed (ETIMEDOUT).
    int waitUntil(const timespec& deadline);
    int destory();

private:
    int waitFor(const timespec* deadline);
    struct CancelledWait;
    static void releaseOnCancel(void* wait);

    pthread_cond_t m_cond;
    Mutex& _mutex;
    bool m_destroyed = false;
};
