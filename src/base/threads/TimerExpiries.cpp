#include "base/threads/TimerExpiries.h"

#include <atomic>
#include <mutex>

namespace timerexpiries {

namespace {

constexpr int kSlotBits = 7;
constexpr int kSlots = 1 << kSlotBits;

struct Slot
{
    std::atomic<int> tag{0}; // 0 while free
    std::atomic<TimerSignalFunc> signalFunc{nullptr};
    std::atomic<TimerThreadFunc> threadFunc{nullptr};
};

// Plain globals: the signal handler reads them, so nothing may be made lazily.
Slot g_slots[kSlots];
std::mutex g_slotLock;
int g_generation = 0;

Slot* liveSlot(int tag)
{
    Slot& slot = g_slots[tag & (kSlots - 1)];
    return tag != 0 && slot.tag.load(std::memory_order_acquire) == tag ? &slot : nullptr;
}

} // namespace

int acquire(TimerSignalFunc signalFunc, TimerThreadFunc threadFunc)
{
    std::lock_guard<std::mutex> lock(g_slotLock);
    for (int i = 0; i < kSlots; ++i) {
        if (g_slots[i].tag.load() != 0)
            continue;
        g_generation = (g_generation % 0xFFFFFF) + 1;
        g_slots[i].signalFunc.store(signalFunc);
        g_slots[i].threadFunc.store(threadFunc);
        const int tag = g_generation << kSlotBits | i;
        g_slots[i].tag.store(tag, std::memory_order_release);
        return tag;
    }
    return 0;
}

void release(int tag)
{
    std::lock_guard<std::mutex> lock(g_slotLock);
    Slot* slot = liveSlot(tag);
    if (!slot)
        return;
    slot->tag.store(0, std::memory_order_release);
    slot->signalFunc.store(nullptr);
    slot->threadFunc.store(nullptr);
}

void setSignalFunc(int tag, TimerSignalFunc func)
{
    std::lock_guard<std::mutex> lock(g_slotLock);
    if (Slot* slot = liveSlot(tag))
        slot->signalFunc.store(func);
}

void setThreadFunc(int tag, TimerThreadFunc func)
{
    std::lock_guard<std::mutex> lock(g_slotLock);
    if (Slot* slot = liveSlot(tag))
        slot->threadFunc.store(func);
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

} // namespace timerexpiries
