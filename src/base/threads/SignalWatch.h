#pragma once

#include "base/threads/FunctionThread.h"
#include "base/threads/StopSignal.h"
#include "base/threads/noncopyable.h"

#include <signal.h>

#include <functional>
#include <memory>

// Takes signals that every thread of the process blocks (see
// blockTerminationSignals) on a thread of its own and hands each to a
// handler there, where it may lock, log and wait like any other code.
// Signals of the set that come while the handler runs are answered by that
// run: they are logged and dropped, never handled twice.
class SignalWatch : noncopyable
{
public:
    using Handler = std::function<void(int signal)>;

    SignalWatch(const sigset_t& watched, Handler handler);
    // Stops the thread; a handler that runs is waited for.
    ~SignalWatch();

    // 0 when the thread watches; -1 (logged) when it could not be started.
    int start();

private:
    void* watch();
    // The next signal taken, or 0 when none is pending.
    int take();

    const sigset_t m_signals;
    const Handler m_handler;
    int m_fd = -1;
    StopSignal m_stop;
    std::unique_ptr<FunctionThread> m_thread;
};
