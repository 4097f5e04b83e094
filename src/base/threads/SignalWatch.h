#pragma once

#include "base/threads/FunctionThread.h"
#include "base/threads/StopSignal.h"
#include "base/threads/noncopyable.h"

#include <functional>
#include <memory>

// Takes the termination signals the process catches (see
// catchTerminationSignals) on a thread of its own and hands each to a
// handler there, where it may lock, log and wait like any other code.
// Signals that come while the handler runs are answered by that run: they
// are logged and dropped, never handled twice; one that comes after it is
// answered again. No signal that has come is
// left unanswered: one still waiting when the watch ends is answered there,
// and then ends the process, as nothing is left to answer it; after the
// watch the signals end the process as they come.
class SignalWatch : noncopyable
{
public:
    using Handler = std::function<void(int signal)>;

    explicit SignalWatch(Handler handler);
    // Stops the thread; a handler that runs is waited for.
    ~SignalWatch();

    // 0 when the thread watches; -1 (logged) when no signal is caught or the
    // thread could not be started.
    int start();

    // Holds every answer back by `ms` of real time (tests: a watch that is
    // late to run, as on a busy machine).
    static void holdBackForTests(int ms);

private:
    void* watch();
    // Answers one signal, and drops those that come meanwhile.
    void answer(int signal);

    const Handler m_handler;
    unsigned m_taken = 0; // signals taken from the queue, on the watch's thread
    StopSignal m_stop;
    std::unique_ptr<FunctionThread> m_thread;
};
