#pragma once

#include "base/threads/TimerExpiries.h"
#include "base/threads/noncopyable.h"

#include <signal.h>
#include <ctime>

// The one signal every signal-mode timer raises, and the one the system's
// threads keep blocked: the highest real-time signal. A build whose programs
// run under user-mode emulation (the board build's tests on the build
// machine) moves it two below, since the emulator cannot deliver the two
// highest to the program it runs.
#ifndef TALVIKS_TIMER_SIGNAL_BELOW_MAX
#define TALVIKS_TIMER_SIGNAL_BELOW_MAX 0
#endif
inline int timerSignal()
{
    return SIGRTMAX - TALVIKS_TIMER_SIGNAL_BELOW_MAX;
}

// A signal set holding only the timer signal, for blocking it in a thread.
inline sigset_t timerSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, timerSignal());
    return set;
}

// A POSIX interval timer with a millisecond interface. In signal mode (0) an
// expiry raises timerSignal() and runs this timer's own handler in signal context;
// in thread mode (2) it runs the notification function in a new thread.
// Expiries that arrive after the timer was deleted are dropped.
class PTimer : noncopyable
{
public:
    enum Mode { SignalMode = SIGEV_SIGNAL, ThreadMode = SIGEV_THREAD };

    PTimer();
    ~PTimer();

    void setCallback(TimerSignalFunc handler);
    void setCallbackI(TimerThreadFunc function);
    void setSingleShot(bool singleShot) { m_singleShot = singleShot; }
    bool isSingleShot() const { return m_singleShot; }

    // Creates the kernel timer; the callback of the mode must be set first.
    void create(int mode);
    // Arms the timer ms milliseconds from now; 0 or less disarms it.
    void start(int ms);
    void stop();
    void restart();
    bool isActive() const;
    // Milliseconds until the next expiry; 0 when disarmed.
    int remaining() const;

    int interval() const { return m_interval; }
    void setInterval(int ms) { m_interval = ms; }
    timer_t timerId() const { return m_timerId; }

private:
    void release();
    void arm(int ms);

    int m_interval = 0;
    bool m_singleShot = false;
    TimerSignalFunc m_callbackFunc = nullptr;
    TimerThreadFunc m_callbackFuncI = nullptr;
    timer_t m_timerId{};
    sigevent m_event{};
    struct sigaction m_action{};
    int m_tag = 0; // in the expiry table; 0 until created
};
