#pragma once

#include "base/threads/noncopyable.h"

#include <atomic>
#include <ctime>
#include <mutex>

// A stop request that every wait of a worker thread can see. Raised, it stays
// raised until cleared: its sleeps end early, and its descriptor is readable,
// so a thread blocked in poll on a device, a socket or a child process wakes
// as well. Sleeps run towards CLOCK_MONOTONIC instants; machine milliseconds
// become such an instant through the Clock seam.
class StopSignal : noncopyable
{
public:
    StopSignal();
    ~StopSignal();

    void raise();
    void clear();
    bool raised() const { return m_raised.load(); }
    // Readable (POLLIN) while raised, for a poll set; polled, never read.
    // -1 when none could be made (logged): sleeps then look at the flag in
    // short steps, and a poll set waits for its other descriptors only.
    int fd() const { return m_fd; }

    // Sleeps ms milliseconds of machine time (ms <= 0: not at all); false
    // when the stop was raised.
    bool sleepMs(int ms);
    // Sleeps until a CLOCK_MONOTONIC instant (Clock::deadlineAfterMs for
    // machine time, kernelDeadlineAfterMs for real time); false when the stop
    // was raised.
    bool sleepUntil(const timespec& deadline);

private:
    const int m_fd;
    std::atomic<bool> m_raised{false};
    // Raising and clearing keep the flag and the descriptor in step.
    std::mutex m_change;
};
