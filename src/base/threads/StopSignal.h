#pragma once

#include "base/threads/Cond.h"
#include "base/threads/Mutex.h"
#include "base/threads/noncopyable.h"

#include <atomic>
#include <ctime>

// A stop request that every wait of a worker thread can see: sleeps end early
// when it is raised, so a thread asked to stop never sits out the rest of a
// long wait. Sleeps run on machine time through the Clock seam.
class StopSignal : noncopyable
{
public:
    StopSignal();

    void raise();
    void clear();
    bool raised() const { return m_raised.load(); }

    // Sleeps ms milliseconds (ms <= 0: not at all); false when the stop was raised.
    bool sleepMs(int ms);
    // Sleeps until a CLOCK_MONOTONIC instant; false when the stop was raised.
    bool sleepUntil(const timespec& deadline);

private:
    std::atomic<bool> m_raised{false};
    Mutex m_mutex;
    Cond m_cond;
};
