#include "base/threads/PTimer.h"

#include "base/log/LogWriter.h"
#include "base/threads/Assert.h"
#include "base/threads/TimerExpiries.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

PTimer::PTimer() = default;

PTimer::~PTimer()
{
    puts("delete timer");
    release();
}

void PTimer::release()
{
    if (m_tag == 0)
        return;
    timer_delete(m_timerId);
    timerexpiries::release(m_tag);
    m_tag = 0;
}

void PTimer::setCallback(TimerSignalFunc handler)
{
    m_callbackFunc = handler;
    timerexpiries::setSignalFunc(m_tag, handler);
    memset(&m_action, 0, sizeof m_action);
    m_action.sa_sigaction = timerexpiries::dispatchSignal;
    sigemptyset(&m_action.sa_mask);
    // SA_RESTART: an expiry must not make the receiving thread's calls fail.
    m_action.sa_flags = SA_SIGINFO | SA_RESTART;
    if (sigaction(timerSignal(), &m_action, nullptr) == -1) {
        perror("fail to sigaction");
        exit(-1);
    }
}

void PTimer::setCallbackI(TimerThreadFunc function)
{
    m_callbackFuncI = function;
    timerexpiries::setThreadFunc(m_tag, function);
}

void PTimer::create(int mode)
{
    release();
    memset(&m_event, 0, sizeof m_event);
    if (mode == SignalMode) {
        TALVIKS_ASSERT(m_callbackFunc);
        m_event.sigev_signo = timerSignal();
    } else if (mode == ThreadMode) {
        TALVIKS_ASSERT(m_callbackFuncI);
        m_event.sigev_notify_function = timerexpiries::dispatchThread;
        m_event.sigev_notify_attributes = nullptr;
    }
    m_event.sigev_notify = mode;

    const int tag = timerexpiries::acquire(m_callbackFunc, m_callbackFuncI);
    if (tag == 0) {
        fputs("fail to timer_create: no free timer slot\n", stderr);
        exit(-1);
    }
    m_event.sigev_value.sival_int = tag;
    if (timer_create(CLOCK_MONOTONIC, &m_event, &m_timerId) == -1) {
        perror("fail to timer_create\n");
        exit(-1);
    }
    m_tag = tag;
    printf("create timer ID:%ld\n", reinterpret_cast<long>(m_timerId));
}

void PTimer::arm(int ms)
{
    if (m_tag == 0) {
        logger()->write(LogWarn, "PTimer: arming a timer that was never created");
        return;
    }
    itimerspec spec{};
    if (ms > 0) {
        spec.it_value.tv_sec = ms / 1000;
        spec.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
        if (!m_singleShot)
            spec.it_interval = spec.it_value;
    }
    if (timer_settime(m_timerId, 0, &spec, nullptr) == -1) {
        perror("fail to timer_settime");
        exit(-1);
    }
}

void PTimer::start(int ms)
{
    m_interval = ms;
    arm(ms);
}

void PTimer::stop()
{
    if (m_tag != 0)
        arm(0);
}

void PTimer::restart()
{
    stop();
    start(m_interval);
}

bool PTimer::isActive() const
{
    itimerspec spec{};
    return m_tag != 0 && timer_gettime(m_timerId, &spec) == 0 &&
           (spec.it_value.tv_sec != 0 || spec.it_value.tv_nsec != 0);
}

int PTimer::remaining() const
{
    itimerspec spec{};
    if (m_tag == 0 || timer_gettime(m_timerId, &spec) != 0)
        return 0;
    return static_cast<int>(spec.it_value.tv_sec * 1000 + spec.it_value.tv_nsec / 1000000);
}
