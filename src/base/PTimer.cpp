#include "base/PTimer.h"

#include "base/Assert.h"
#include "base/LogWriter.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Every signal-mode timer raises the same signal. The signal value carries
// the timer's slot and a generation, so one process-wide handler runs the
// right timer's callback and drops expiries of timers deleted since.
constexpr int kSlotBits = 7;
constexpr int kSlots = 1 << kSlotBits;

struct Slot
{
    std::atomic<int> tag{0}; // 0 while free
    std::atomic<TimerSignalFunc> signalFunc{nullptr};
    std::atomic<TimerThreadFunc> threadFunc{nullptr};
};

Slot g_slots[kSlots];
std::mutex g_slotLock;
int g_generation = 0;

int acquireSlot(TimerSignalFunc signalFunc, TimerThreadFunc threadFunc)
{
    std::lock_guard<std::mutex> lock(g_slotLock);
    for (int i = 0; i < kSlots; ++i) {
        if (g_slots[i].tag.load() != 0)
            continue;
        g_generation = (g_generation % 0xFFFFFF) + 1;
        g_slots[i].signalFunc.store(signalFunc);
        g_slots[i].threadFunc.store(threadFunc);
        g_slots[i].tag.store(g_generation << kSlotBits | i, std::memory_order_release);
        return i;
    }
    return -1;
}

void releaseSlot(int slot)
{
    std::lock_guard<std::mutex> lock(g_slotLock);
    g_slots[slot].tag.store(0, std::memory_order_release);
    g_slots[slot].signalFunc.store(nullptr);
    g_slots[slot].threadFunc.store(nullptr);
}

Slot* liveSlot(int tag)
{
    Slot& slot = g_slots[tag & (kSlots - 1)];
    return tag != 0 && slot.tag.load(std::memory_order_acquire) == tag ? &slot : nullptr;
}

void dispatchSignal(int signalNumber, siginfo_t* info, void*)
{
    if (info->si_code != SI_TIMER)
        return;
    const int tag = info->si_value.sival_int;
    Slot* slot = liveSlot(tag);
    if (!slot)
        return;
    TimerSignalFunc func = slot->signalFunc.load(std::memory_order_acquire);
    if (func && liveSlot(tag))
        func(signalNumber);
}

void dispatchThread(union sigval value)
{
    const int tag = value.sival_int;
    Slot* slot = liveSlot(tag);
    if (!slot)
        return;
    TimerThreadFunc func = slot->threadFunc.load(std::memory_order_acquire);
    if (!func || !liveSlot(tag))
        return;
    union sigval payload;
    payload.sival_int = 111;
    func(payload);
}

} // namespace

PTimer::PTimer() = default;

PTimer::~PTimer()
{
    puts("delete timer");
    release();
}

void PTimer::release()
{
    if (m_slot < 0)
        return;
    timer_delete(m_timerId);
    releaseSlot(m_slot);
    m_slot = -1;
}

void PTimer::setCallback(TimerSignalFunc handler)
{
    m_callbackFunc = handler;
    if (m_slot >= 0)
        g_slots[m_slot].signalFunc.store(handler);
    memset(&m_action, 0, sizeof m_action);
    m_action.sa_sigaction = dispatchSignal;
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
    if (m_slot >= 0)
        g_slots[m_slot].threadFunc.store(function);
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
        m_event.sigev_notify_function = dispatchThread;
        m_event.sigev_notify_attributes = nullptr;
    }
    m_event.sigev_notify = mode;

    const int slot = acquireSlot(m_callbackFunc, m_callbackFuncI);
    if (slot < 0) {
        fputs("fail to timer_create: no free timer slot\n", stderr);
        exit(-1);
    }
    m_event.sigev_value.sival_int = g_slots[slot].tag.load();
    if (timer_create(CLOCK_MONOTONIC, &m_event, &m_timerId) == -1) {
        perror("fail to timer_create\n");
        exit(-1);
    }
    m_slot = slot;
    printf("create timer ID:%ld\n", reinterpret_cast<long>(m_timerId));
}

void PTimer::arm(int ms)
{
    if (m_slot < 0) {
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
    if (m_slot >= 0)
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
    return m_slot >= 0 && timer_gettime(m_timerId, &spec) == 0 &&
           (spec.it_value.tv_sec != 0 || spec.it_value.tv_nsec != 0);
}

int PTimer::remaining() const
{
    itimerspec spec{};
    if (m_slot < 0 || timer_gettime(m_timerId, &spec) != 0)
        return 0;
    return static_cast<int>(spec.it_value.tv_sec * 1000 + spec.it_value.tv_nsec / 1000000);
}
