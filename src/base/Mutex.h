#pragma once

#include "noncopyable.h"

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

    pthread_mutex_t m_mutex;
    std::atomic<bool> m_isLock{false};
    bool m_destroyed = false;
};

// Holds a Mutex for the life of a scope.
class MutexLocker : noncopyable
{
public:
    explicit MutexLocker(Mutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~MutexLocker() { m_mutex.unlock(); }

private:
    Mutex& m_mutex;
};
