#pragma once

#include <signal.h>

typedef void (*TimerSignalFunc)(int signalNumber);
typedef void (*TimerThreadFunc)(union sigval value);

// The table every PTimer's expiries go through. An expiry carries its
// timer's tag (an entry of one process-wide table and a generation) and runs
// the function of the timer that holds the tag now; the expiry of a timer
// deleted since runs nothing, even when its entry serves another timer by
// then. Expiries arrive at any time: in the signal handler (signal mode) or
// on a thread the C library starts (thread mode).
namespace timerexpiries {

// A tag for a new timer (never 0), or 0 when every entry is taken.
int acquire(TimerSignalFunc signalFunc, TimerThreadFunc threadFunc);
void release(int tag);
void setSignalFunc(int tag, TimerSignalFunc func);
void setThreadFunc(int tag, TimerThreadFunc func);

// The handler of the timer signal (SA_SIGINFO).
void dispatchSignal(int signalNumber, siginfo_t* info, void*);
// The notification function of thread-mode timers; the timer's function is
// called with the value 111.
void dispatchThread(union sigval value);

} // namespace timerexpiries
