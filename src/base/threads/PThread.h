#pragma once

#include "base/threads/noncopyable.h"

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <memory>

// A thread object with one body, threadMain(). Bodies stop cooperatively on
// a StopSignal of their own class; cancel() is the forced stop. Threads
// started here block the timer signal, so timer expiries never interrupt
// their waits.
class PThread : noncopyable
{
public:
    PThread();
    virtual ~PThread();

    // 0 on success; -1, -ESRCH (stack size refused), -ECHILD (create
    // failed). On failure errno holds the cause.
    int start(bool detached, size_t stackSize);
    // What threadMain returned; null for a detached thread, a thread never
    // started, one already joined, or a failed join.
    void* join();
    void cancel();
    // True while threadMain has not yet returned (or the thread been cancelled).
    bool isAlive() const;
    // The POSIX id of the thread last started; empty before start.
    pthread_t threadId() const { return m_tid; }

    // The stack size of a thread started with default attributes.
    static size_t defaultStackSize();

    // Sleeps on the monotonic clock, resuming after signals; 0, or -1 for a negative time.
    static int msleep(int ms);

protected:
    virtual void* threadMain() = 0;

private:
    enum State { Idle, Running, Ended };
    static void* threadEntry(void* arg);

    pthread_t m_tid{};
    bool m_detached = false;
    bool m_started = false;
    bool m_joined = false;
    // Shared with the running thread, which marks its end here without
    // touching the object (a detached thread's owner may already have dropped it).
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
