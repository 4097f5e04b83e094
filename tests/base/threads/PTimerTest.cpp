#include "base/threads/Cond.h"
#include "base/threads/Mutex.h"
#include "base/threads/PThread.h"
#include "base/threads/PTimer.h"
#include "base/threads/Semaphore.h"
#include "support/Sanitizers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using testsupport::monotonicMs;

namespace {

std::atomic<int> g_firstFired{0};
std::atomic<int> g_secondFired{0};
std::atomic<int> g_threadValue{0};

void firstHandler(int signalNumber)
{
    if (signalNumber == timerSignal())
        ++g_firstFired;
}

void secondHandler(int)
{
    ++g_secondFired;
}

void threadFunction(union sigval value)
{
    g_threadValue = value.sival_int;
}

bool waitFor(const std::atomic<int>& counter, int atLeast, int ms)
{
    const long long end = monotonicMs() + ms;
    while (counter < atLeast && monotonicMs() < end)
        PThread::msleep(2);
    return counter >= atLeast;
}

void makeSignalTimer(PTimer& timer, TimerSignalFunc handler, bool singleShot)
{
    timer.setCallback(handler);
    timer.setSingleShot(singleShot);
    timer.create(PTimer::SignalMode);
}

} // namespace

TEST(PTimer, SingleShotExpiresOnceAndPeriodicUntilStopped)
{
    PTimer timer;
    makeSignalTimer(timer, firstHandler, true);
    // Far from its expiry, however long this thread waits for the processor.
    timer.start(100000);
    EXPECT_TRUE(timer.isActive());
    EXPECT_GT(timer.remaining(), 0);
    EXPECT_LE(timer.remaining(), 100000);
    const long long start = monotonicMs();
    timer.start(150);
    ASSERT_TRUE(waitFor(g_firstFired, 1, 10000));
    EXPECT_GE(monotonicMs() - start, 150);
    PThread::msleep(200);
    EXPECT_EQ(1, g_firstFired);
    EXPECT_FALSE(timer.isActive());

    PTimer periodic;
    makeSignalTimer(periodic, secondHandler, false);
    periodic.start(20);
    ASSERT_TRUE(waitFor(g_secondFired, 3, 10000));
    EXPECT_TRUE(periodic.isActive());
    periodic.stop();
    EXPECT_FALSE(periodic.isActive());
    const int fired = g_secondFired;
    PThread::msleep(100);
    EXPECT_EQ(fired, g_secondFired);
}

TEST(PTimer, ZeroOrNegativeDisarmsAndRestartReusesTheInterval)
{
    PTimer timer;
    makeSignalTimer(timer, firstHandler, true);
    timer.start(10000);
    EXPECT_TRUE(timer.isActive());
    timer.start(0);
    EXPECT_FALSE(timer.isActive());
    timer.start(10000);
    timer.start(-5);
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(-5, timer.interval());

    timer.start(5000);
    timer.stop();
    EXPECT_FALSE(timer.isActive());
    timer.restart();
    EXPECT_TRUE(timer.isActive());
    EXPECT_GT(timer.remaining(), 4000);
    timer.setInterval(40);
    timer.restart();
    ASSERT_TRUE(waitFor(g_firstFired, 1, 10000));
}

TEST(PTimer, EachTimerRunsItsOwnHandler)
{
    PTimer first, second;
    makeSignalTimer(first, firstHandler, true);
    makeSignalTimer(second, secondHandler, true); // installed last
    first.start(30);
    ASSERT_TRUE(waitFor(g_firstFired, 1, 10000));
    PThread::msleep(50);
    EXPECT_EQ(0, g_secondFired);
    second.start(30);
    ASSERT_TRUE(waitFor(g_secondFired, 1, 10000));
    PThread::msleep(50);
    EXPECT_EQ(1, g_firstFired);
}

TEST(PTimer, ExpiryOfADeletedTimerIsDropped)
{
    const sigset_t timerSet = timerSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &timerSet, &previous);
    {
        PTimer timer;
        makeSignalTimer(timer, firstHandler, true);
        timer.start(1);
        PThread::msleep(50); // expired; its signal waits, blocked
    }
    PTimer reused; // may take the same slot
    makeSignalTimer(reused, secondHandler, true);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    PThread::msleep(50);
    EXPECT_EQ(0, g_firstFired);
    EXPECT_EQ(0, g_secondFired);
}

TEST(PTimer, NeverCreatedTimerIsHarmless)
{
    PTimer timer;
    timer.stop();
    timer.start(10);
    timer.restart();
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(0, timer.remaining());
}

TEST(PTimer, ThreadModeRunsTheFunctionWithItsValue)
{
    if (testsupport::kThreadSanitizer)
        GTEST_SKIP() << "the C library's timer helper thread is unknown to ThreadSanitizer";
    PTimer timer;
    timer.setCallbackI(threadFunction);
    timer.setSingleShot(true);
    timer.create(PTimer::ThreadMode);
    timer.start(20);
    ASSERT_TRUE(waitFor(g_threadValue, 111, 10000));
    EXPECT_EQ(111, g_threadValue);
}

namespace {

// Which timer the expiry on this thread belongs to, and expiries that ran
// another timer's function.
thread_local int t_expiryOf = -1;
std::atomic<int> g_foreignExpiries{0};
std::atomic<int> g_expiriesRun{0};

template <int K>
void expiryOf(union sigval value)
{
    ++g_expiriesRun;
    if (value.sival_int != 111 || t_expiryOf != K)
        ++g_foreignExpiries;
}

} // namespace

TEST(PTimer, ThreadModeExpiriesRaceDeletionAndReuse)
{
    // The C library's notification threads are unknown to the thread
    // sanitizer, so they are played here by threads it knows: expiries keep
    // arriving while their timers are deleted and their entries taken by
    // new timers. Each runs its own timer's function or nothing.
    const TimerThreadFunc functions[4] = {expiryOf<0>, expiryOf<1>, expiryOf<2>, expiryOf<3>};
    std::atomic<int> tags[4];
    for (int k = 0; k < 4; ++k)
        tags[k] = timerexpiries::acquire(nullptr, functions[k]);
    std::atomic<bool> done{false};
    std::atomic<int> started{0};
    std::vector<std::thread> notifiers;
    for (int t = 0; t < 3; ++t)
        notifiers.emplace_back([&] {
            ++started;
            while (!done) {
                for (int k = 0; k < 4; ++k) {
                    union sigval value;
                    value.sival_int = tags[k];
                    t_expiryOf = k;
                    timerexpiries::dispatchThread(value);
                }
            }
        });
    while (started < 3)
        std::this_thread::yield();
    for (int i = 0; i < 3000; ++i) {
        const int k = i % 4;
        const int old = tags[k];
        timerexpiries::release(old);
        tags[k] = timerexpiries::acquire(nullptr, functions[k]);
    }
    EXPECT_TRUE(testsupport::eventually([] { return g_expiriesRun > 0; }, 10000));
    done = true;
    for (auto& notifier : notifiers)
        notifier.join();
    EXPECT_EQ(0, g_foreignExpiries.load());

    // A late expiry of a deleted timer runs nothing.
    const int ran = g_expiriesRun;
    const int deleted = tags[0];
    timerexpiries::release(deleted);
    union sigval late;
    late.sival_int = deleted;
    timerexpiries::dispatchThread(late);
    EXPECT_EQ(ran, g_expiriesRun.load());
    for (int k = 1; k < 4; ++k)
        timerexpiries::release(tags[k]);
}

TEST(PTimer, CreateWithoutItsCallbackStopsTheProcess)
{
    EXPECT_DEATH(
        {
            PTimer timer;
            timer.create(PTimer::SignalMode);
        },
        "m_callbackFunc");
    EXPECT_DEATH(
        {
            PTimer timer;
            timer.create(PTimer::ThreadMode);
        },
        "m_callbackFuncI");
}

namespace {

std::atomic<int> g_stormFired{0};

void stormHandler(int)
{
    ++g_stormFired;
}

// Runs `call` on this thread, the only one that takes the timer's signal,
// while a timer fires every 2 ms; its time in milliseconds.
long long underTimerStorm(const std::function<void()>& call)
{
    PTimer timer;
    makeSignalTimer(timer, stormHandler, false);
    const int before = g_stormFired;
    timer.start(2);
    const long long start = monotonicMs();
    call();
    const long long elapsed = monotonicMs() - start;
    timer.stop();
    // ThreadSanitizer holds signals back while a call blocks, and many merge into one.
    EXPECT_GT(g_stormFired - before, testsupport::kThreadSanitizer ? 0 : 10)
        << "the timer's signal never reached the blocked call";
    return elapsed;
}

// Starts a thread that does not take the timer's signal.
std::thread quietThread(std::function<void()> body)
{
    const sigset_t timerSet = timerSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &timerSet, &previous);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

} // namespace

// Expiries land on whichever thread takes the signal: none of its blocking
// calls may fail with EINTR or come back before its time.
TEST(PTimer, ExpiriesNeverFailOrShortenABlockingCall)
{
    EXPECT_GE(underTimerStorm([] { EXPECT_EQ(0, PThread::msleep(300)); }), 300);

    Mutex mutex;
    Cond cond(mutex);
    EXPECT_GE(underTimerStorm([&] {
                  mutex.lock();
                  EXPECT_EQ(ETIMEDOUT, cond.wait(300));
                  mutex.unlock();
              }),
              300);

    Semaphore semaphore(0);
    EXPECT_GE(underTimerStorm([&] { EXPECT_EQ(-1, semaphore.wait(300)); }), 300);
    // The sleepers start inside the timed call: whatever the machine's load,
    // what they release comes 300 ms or more after the clock started.
    EXPECT_GE(underTimerStorm([&] {
                  std::thread poster = quietThread([&] {
                      PThread::msleep(300);
                      semaphore.post();
                  });
                  EXPECT_EQ(0, semaphore.wait());
                  poster.join();
              }),
              300);

    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder = quietThread([&] {
        mutex.lock();
        held = true;
        while (!release)
            PThread::msleep(5);
        mutex.unlock();
    });
    while (!held)
        PThread::msleep(1);
    EXPECT_GE(underTimerStorm([&] { EXPECT_EQ(ETIMEDOUT, mutex.lock(300)); }), 300);
    release = true;
    holder.join();

    // A plain blocking read returns the bytes, not EINTR.
    int pipeFds[2];
    ASSERT_EQ(0, pipe(pipeFds));
    char buffer[8] = {};
    EXPECT_GE(underTimerStorm([&] {
                  std::thread writer = quietThread([&] {
                      PThread::msleep(300);
                      EXPECT_EQ(4, write(pipeFds[1], "data", 4));
                  });
                  EXPECT_EQ(4, read(pipeFds[0], buffer, sizeof buffer));
                  writer.join();
              }),
              300);
    EXPECT_EQ("data", std::string(buffer, 4));
    close(pipeFds[0]);
    close(pipeFds[1]);
}
