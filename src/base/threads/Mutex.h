#pragma once

#include "base/threads/noncopyable.h"

#include <pthread.h>

#include <atomic>

// A plain (not recursive) mutex with an advisory "locked" flag beside it,
// read by Cond to check its caller's contract.
class Mutex : noncopyable
{
public:
    Mutex();
    ~Mutex();

    int init();
    void lock();
    // 0 when locked, else the error of the attempt.
    int tryLock();
    // Waits at most ms milliseconds (ms > 0); 0 when locked, else the error (ETIMEDOUT).
    int lock(int ms);
    void unlock();
    bool isLock() const { return m_isLock.load(std::memory_order_relaxed); }
    int destory();

private:
    friend class Cond;
    friend class MutexLocker;

    pthread_mutex_t m_mutex;
    std::atomic<bool> m_isLock{false};
    bool m_destroyed = false;
    // Whether the holder took the mutex through a MutexLocker, which then
    // releases it (also when a cancellation unwinds the holder's stack).
    // Read and written only by the holder.
    bool m_lockerHolds = false;
};

// Holds a Mutex for the life of a scope.
class MutexLocker : noncopyable
{
public:
    explicit MutexLocker(Mutex& mutex) : m_mutex(mutex)
    {
        m_mutex.lock();
        m_mutex.m_lockerHolds = true;
    }
    ~MutexLocker()
    {
        m_mutex.m_lockerHolds = false;
        m_mutex.unlock();
    }

private:
    Mutex& m_mutex;
};
