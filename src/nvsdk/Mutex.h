#pragma once

#include <pthread.h>

namespace nvsdk {

// A POSIX mutex with default attributes.
class Mutex
{
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    int lock();
    int unlock();
    bool tryLock();
    pthread_mutex_t* handle() { return &m_mutex; }

private:
    pthread_mutex_t m_mutex;
};

// Holds a mutex locked for its lifetime. The mutex must not be null.
class MutexLocker
{
public:
    explicit MutexLocker(Mutex* mutex);
    ~MutexLocker();
    MutexLocker(const MutexLocker&) = delete;
    MutexLocker& operator=(const MutexLocker&) = delete;

    void lock();
    void unlock();
    Mutex* mutex() const { return m_mutex; }

private:
    Mutex* m_mutex;
};

} // namespace nvsdk
