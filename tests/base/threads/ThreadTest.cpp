#include "base/buses/ByteOrder.h"
#include "base/platform/Platform.h"
#include "base/platform/ProcessSignals.h"
#include "base/threads/Cond.h"
#include "base/threads/FunctionThread.h"
#include "base/threads/Mutex.h"
#include "base/threads/PThread.h"
#include "base/threads/Semaphore.h"
#include "base/threads/SignalWatch.h"
#include "base/threads/StopSignal.h"
#include "base/threads/Stopwatch.h"
#include "board/ScaledClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

using testsupport::monotonicMs;

namespace {

// Sends a signal to one thread every few milliseconds while alive.
class SignalStorm
{
public:
    explicit SignalStorm(pthread_t target)
    {
        struct sigaction action{};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: interrupted calls see EINTR
        sigaction(SIGUSR1, &action, nullptr);
        m_thread = std::thread([this, target] {
            while (!m_stop) {
                pthread_kill(target, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~SignalStorm()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Runs `wait` on a thread that is showered with signals; returns how long it took.
long long timeUnderSignals(const std::function<void()>& wait)
{
    long long elapsed = 0;
    std::atomic<bool> ready{false};
    std::thread waiter([&] {
        ready = true;
        const long long start = monotonicMs();
        wait();
        elapsed = monotonicMs() - start;
    });
    while (!ready)
        std::this_thread::yield();
    {
        SignalStorm storm(waiter.native_handle());
        waiter.join();
    }
    return elapsed;
}

} // namespace

TEST(PThread, StartsJoinsAndReportsTheStack)
{
    int value = 42;
    FunctionThread thread([&] { return static_cast<void*>(&value); });
    EXPECT_FALSE(thread.isAlive());
    EXPECT_EQ(nullptr, thread.join());
    thread.cancel(); // never started: nothing happens

    testing::internal::CaptureStdout();
    EXPECT_EQ(0, thread.start(false, 524288));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("[***stack_size = 512k\n"));
    EXPECT_NE(std::string::npos, out.find("[***guard_size = "));
    EXPECT_EQ(&value, thread.join());
    EXPECT_FALSE(thread.isAlive());
    EXPECT_EQ(nullptr, thread.join()); // joined once only
    thread.cancel();                   // its id is gone: nothing happens

    // The print thread is started again for every print.
    EXPECT_EQ(0, thread.start(false, 524288));
    EXPECT_EQ(&value, thread.join());
}

TEST(PThread, RefusesATooSmallStack)
{
    std::atomic<bool> ran{false};
    FunctionThread thread([&] {
        ran = true;
        return nullptr;
    });
    EXPECT_EQ(-ESRCH, thread.start(false, 1024));
    EXPECT_FALSE(thread.isAlive());
    EXPECT_EQ(nullptr, thread.join());
    EXPECT_FALSE(ran);
}

TEST(PThread, AliveOnlyWhileTheBodyRuns)
{
    Semaphore release(0);
    FunctionThread detached([&] {
        release.wait();
        return nullptr;
    });
    ASSERT_EQ(0, detached.start(true, 1 << 20));
    EXPECT_TRUE(detached.isAlive());
    const long long start = monotonicMs();
    EXPECT_EQ(nullptr, detached.join()); // detached: returns at once, not when the body ends
    EXPECT_LT(monotonicMs() - start, 10000);
    release.post();
    while (detached.isAlive())
        PThread::msleep(1);
    detached.cancel(); // ended detached thread: its id is not used again

    FunctionThread joinable([] { return nullptr; });
    ASSERT_EQ(0, joinable.start(false, 1 << 20));
    joinable.join();
    EXPECT_FALSE(joinable.isAlive());
}

namespace {

class SelfDeletingThread : public PThread
{
public:
    explicit SelfDeletingThread(std::atomic<int>& done) : m_done(done) {}

protected:
    void* threadMain() override
    {
        std::atomic<int>& done = m_done;
        delete this;
        ++done;
        return nullptr;
    }

private:
    std::atomic<int>& m_done;
};

} // namespace

TEST(PThread, DetachedThreadMayDropItsObjectAtOnce)
{
    // The body deletes its own object: start must not touch it afterwards
    // (the address sanitizer build reports any such touch).
    std::atomic<int> done{0};
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(0, (new SelfDeletingThread(done))->start(true, 1 << 16));
    while (done < 50)
        PThread::msleep(1);
}

TEST(PThread, CancelInsideCondWaitReleasesTheMutex)
{
    Mutex mutex;
    Cond cond(mutex);
    std::atomic<bool> waiting{false};
    FunctionThread thread([&] {
        mutex.lock();
        waiting = true;
        cond.wait();
        mutex.unlock();
        return nullptr;
    });
    ASSERT_EQ(0, thread.start(false, 1 << 20));
    while (!waiting)
        PThread::msleep(1);
    PThread::msleep(10);
    thread.cancel();
    EXPECT_EQ(PTHREAD_CANCELED, thread.join());
    EXPECT_FALSE(thread.isAlive());
    EXPECT_EQ(0, mutex.lock(1000));
    mutex.unlock();
}

TEST(PThread, MsleepSleepsTheWholeTimeDespiteSignals)
{
    long long start = monotonicMs();
    EXPECT_EQ(0, PThread::msleep(1500));
    long long elapsed = monotonicMs() - start;
    EXPECT_GE(elapsed, 1500);
    EXPECT_LT(elapsed, 3000);

    elapsed = timeUnderSignals([] { PThread::msleep(300); });
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(-1, PThread::msleep(-5));
}

TEST(Mutex, LocksTryLocksAndTimesOut)
{
    Mutex mutex;
    EXPECT_FALSE(mutex.isLock());
    mutex.lock();
    EXPECT_TRUE(mutex.isLock());

    int tryResult = 0, timedResult = 0;
    long long timedElapsed = 0;
    testing::internal::CaptureStdout();
    std::thread other([&] {
        tryResult = mutex.tryLock();
        const long long start = monotonicMs();
        timedResult = mutex.lock(200);
        timedElapsed = monotonicMs() - start;
    });
    other.join();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(EBUSY, tryResult);
    EXPECT_EQ(ETIMEDOUT, timedResult);
    EXPECT_GE(timedElapsed, 200);
    EXPECT_LT(timedElapsed, 2000);
    EXPECT_NE(std::string::npos, out.find("tryLock failed\n"));
    EXPECT_NE(std::string::npos, out.find("File:Mutex.cpp, Line:"));
    EXPECT_NE(std::string::npos, out.find(",error(110) ,(Connection timed out) \n"));

    mutex.unlock();
    EXPECT_FALSE(mutex.isLock());
    EXPECT_EQ(0, mutex.tryLock());
    EXPECT_TRUE(mutex.isLock());
    mutex.unlock();
}

TEST(Mutex, TimedLockLastsItsTimeDespiteSignals)
{
    Mutex mutex;
    mutex.lock();
    const long long elapsed = timeUnderSignals([&] { EXPECT_EQ(ETIMEDOUT, mutex.lock(300)); });
    EXPECT_GE(elapsed, 300);
    mutex.unlock();
}

TEST(Cond, SignalWakesAndTimeoutExpires)
{
    Mutex mutex;
    Cond cond(mutex);
    bool ready = false;
    std::thread waker([&] {
        PThread::msleep(50);
        mutex.lock();
        ready = true;
        cond.signal();
        mutex.unlock();
    });
    mutex.lock();
    while (!ready)
        EXPECT_EQ(0, cond.wait());
    EXPECT_TRUE(mutex.isLock());
    mutex.unlock();
    waker.join();

    mutex.lock();
    const long long start = monotonicMs();
    EXPECT_EQ(ETIMEDOUT, cond.wait(100));
    EXPECT_GE(monotonicMs() - start, 100);
    EXPECT_TRUE(mutex.isLock());
    mutex.unlock();

    const long long elapsed = timeUnderSignals([&] {
        mutex.lock();
        EXPECT_EQ(ETIMEDOUT, cond.wait(300));
        mutex.unlock();
    });
    EXPECT_GE(elapsed, 300);
}

TEST(Semaphore, CountsAndTimesOut)
{
    Semaphore sem(0);
    int value = -1;
    EXPECT_EQ(0, sem.getValue(value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(-1, sem.tryWait());
    EXPECT_EQ(EAGAIN, errno);
    EXPECT_EQ(0, sem.post());
    EXPECT_EQ(0, sem.post());
    EXPECT_EQ(0, sem.getValue(value));
    EXPECT_EQ(2, value);
    EXPECT_EQ(0, sem.tryWait());
    EXPECT_EQ(0, sem.wait());
    EXPECT_EQ(0, sem.init(1));
    EXPECT_EQ(0, sem.wait(10));

    const long long start = monotonicMs();
    EXPECT_EQ(-1, sem.wait(100));
    EXPECT_EQ(ETIMEDOUT, errno);
    const long long elapsed = monotonicMs() - start;
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 2000);

    EXPECT_GE(timeUnderSignals([&] { EXPECT_EQ(-1, sem.wait(300)); }), 300);
}

TEST(ContractViolations, StopTheProcessWithTheirAssertionTexts)
{
    EXPECT_DEATH(
        {
            Mutex mutex;
            mutex.lock(0);
        },
        "ms > 0");
    EXPECT_DEATH(
        {
            Mutex mutex;
            Cond cond(mutex);
            mutex.lock();
            cond.wait(-1);
        },
        "ms >0");
    EXPECT_DEATH(
        {
            Mutex mutex;
            Cond cond(mutex);
            cond.wait();
        },
        "_mutex.isLock\\(\\)");
    EXPECT_DEATH(
        {
            Mutex mutex;
            Cond cond(mutex);
            cond.wait(100);
        },
        "_mutex.isLock\\(\\)");
}

namespace {

// A machine clock the test moves by hand.
class ManualClock : public Clock
{
public:
    timespec now() const override { return nsToTimespec(m_ns); }
    void set(int64_t ns) { m_ns = ns; }

private:
    int64_t m_ns = 0;
};

} // namespace

TEST(Stopwatch, BorrowsASecondAndCountsWholeSeconds)
{
    {
        ManualClock clock;
        ScopedPlatform installed(&clock);
        clock.set(1000900000000LL); // x.9 s
        Stopwatch watch;
        clock.set(1002400000000LL); // 1.5 s later
        EXPECT_EQ(1500, watch.elapsedMs());
        EXPECT_EQ(2, watch.elapsedSec()); // whole-second fields: 1002 - 1000
        clock.set(1002400999999LL);
        EXPECT_EQ(1500, watch.elapsedMs());
        watch.start();
        EXPECT_EQ(0, watch.elapsedMs());
    }

    Stopwatch real;
    PThread::msleep(30);
    EXPECT_GE(real.elapsedMs(), 30);
}

TEST(ByteOrder, BigAndLittleEndian)
{
    unsigned char buffer[4];
    putUint32(0x11223344u, buffer, false);
    EXPECT_EQ(0x11, buffer[0]);
    EXPECT_EQ(0x44, buffer[3]);
    uint32_t value = 0;
    getUint32BE(value, buffer);
    EXPECT_EQ(0x11223344u, value);
    putUint32(0x11223344u, buffer, true);
    EXPECT_EQ(0x44, buffer[0]);
    EXPECT_EQ(0x11, buffer[3]);
    EXPECT_TRUE(isLittleEndian());
}

namespace {

// Destroyed while a cancellation unwinds the stack between the wait and the
// MutexLocker around it: tells whether the mutex was already let go there.
struct ReleaseProbe
{
    Mutex& mutex;
    std::atomic<int>& releasedEarly;
    ~ReleaseProbe()
    {
        const bool free = mutex.tryLock() == 0;
        if (free)
            mutex.unlock();
        releasedEarly = free ? 1 : 0;
    }
};

} // namespace

TEST(PThread, CancelInsideCondWaitUnderALockerUnlocksOnce)
{
    Mutex mutex;
    Cond cond(mutex);
    std::atomic<bool> waiting{false};
    std::atomic<int> releasedEarly{-1};
    FunctionThread thread([&]() -> void* {
        MutexLocker locker(mutex);
        ReleaseProbe probe{mutex, releasedEarly};
        waiting = true;
        for (;;)
            cond.wait();
    });
    ASSERT_EQ(0, thread.start(false, 1 << 20));
    // Once this lock is had with the flag set, the thread sits in the wait.
    for (bool inWait = false; !inWait;) {
        MutexLocker lock(mutex);
        inWait = waiting;
    }
    testing::internal::CaptureStdout();
    thread.cancel();
    EXPECT_EQ(PTHREAD_CANCELED, thread.join());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(0, releasedEarly.load()) << "the wait let go of a mutex the locker still held";

    // Held once, released once: the mutex excludes again.
    EXPECT_EQ(0, mutex.lock(1000));
    int other = 0;
    std::thread([&] { other = mutex.tryLock(); }).join();
    EXPECT_EQ(EBUSY, other);
    mutex.unlock();
}

namespace {

bool readable(int fd)
{
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}

long long elapsedMsSince(const timespec& start)
{
    return (timespecToNs(kernelMonotonicNow()) - timespecToNs(start)) / 1000000;
}

} // namespace

TEST(StopSignal, ItsDescriptorIsReadableExactlyWhileRaised)
{
    StopSignal stop;
    ASSERT_GE(stop.fd(), 0);
    EXPECT_FALSE(stop.raised());
    EXPECT_FALSE(readable(stop.fd()));
    EXPECT_TRUE(stop.sleepMs(0));

    // Raised twice, cleared once: a raise is a state, not a count.
    stop.raise();
    stop.raise();
    EXPECT_TRUE(stop.raised());
    EXPECT_TRUE(readable(stop.fd()));
    EXPECT_TRUE(readable(stop.fd())) << "polling must not consume the raise";
    const timespec start = kernelMonotonicNow();
    EXPECT_FALSE(stop.sleepMs(60000));
    EXPECT_FALSE(stop.sleepUntil(kernelDeadlineAfterMs(60000)));
    EXPECT_FALSE(stop.sleepMs(0));
    EXPECT_LT(elapsedMsSince(start), 10000);

    stop.clear();
    EXPECT_FALSE(stop.raised());
    EXPECT_FALSE(readable(stop.fd()));
    EXPECT_TRUE(stop.sleepMs(1));
    stop.clear(); // clearing a clear stop changes nothing
    stop.raise();
    EXPECT_TRUE(readable(stop.fd()));
}

TEST(StopSignal, ARaiseEndsSleepsAndWakesPollsOfOtherThreads)
{
    StopSignal stop;
    std::atomic<int> sleepResult{-1};
    std::atomic<int> pollResult{-1};
    std::atomic<int> ready{0};
    std::thread sleeper([&] {
        ++ready;
        sleepResult = stop.sleepMs(60000) ? 1 : 0;
    });
    std::thread poller([&] {
        pollfd entry{stop.fd(), POLLIN, 0};
        ++ready;
        int rc;
        while ((rc = poll(&entry, 1, 60000)) < 0 && errno == EINTR) {
        }
        pollResult = rc;
    });
    while (ready < 2)
        std::this_thread::yield();
    PThread::msleep(100);
    const timespec raisedAt = kernelMonotonicNow();
    stop.raise();
    sleeper.join();
    poller.join();
    EXPECT_LT(elapsedMsSince(raisedAt), 10000);
    EXPECT_EQ(0, sleepResult.load());
    EXPECT_EQ(1, pollResult.load());
}

TEST(StopSignal, SleepsRunOnMachineTimeOrToARealDeadlineDespiteSignals)
{
    StopSignal stop;
    timespec start = kernelMonotonicNow();
    EXPECT_TRUE(stop.sleepMs(150));
    EXPECT_GE(elapsedMsSince(start), 150);
    EXPECT_GE(timeUnderSignals([&] { EXPECT_TRUE(stop.sleepMs(300)); }), 300);

    // A machine clock ten times as fast: 2 s of machine time pass in about 0.2 s,
    // while a deadline of real time keeps its length.
    sim::ScaledClock fast(10);
    ScopedPlatform installed(&fast);
    const int64_t machineStart = timespecToNs(fast.now());
    start = kernelMonotonicNow();
    EXPECT_TRUE(stop.sleepMs(2000));
    EXPECT_GE(timespecToNs(fast.now()) - machineStart, int64_t(2000) * 1000000);
    EXPECT_LT(elapsedMsSince(start), 2000);
    start = kernelMonotonicNow();
    EXPECT_TRUE(stop.sleepUntil(kernelDeadlineAfterMs(300)));
    EXPECT_GE(elapsedMsSince(start), 300);
}

// A termination signal is answered on the watch's thread wherever it was
// sent, and one that came as the watch ended is answered all the same and
// then ends the process: none is dropped.
TEST(SignalWatchDeathTest, EverySignalThatCameIsAnswered)
{
    EXPECT_EXIT(
        {
            catchTerminationSignals();
            std::atomic<int> answered{0};
            SignalWatch watch([&](int signal) {
                answered = signal;
                fprintf(stderr, "answered %d\n", signal);
            });
            if (watch.start() != 0)
                _exit(3);
            std::thread([] { raise(SIGHUP); }).join(); // to that thread alone
            if (!testsupport::eventually([&] { return answered == SIGHUP; }, 10000))
                _exit(4);
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // that answer over
            SignalWatch::holdBackForTests(300); // late to look, and stopped meanwhile
            raise(SIGTERM);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        },
        ::testing::KilledBySignal(SIGTERM), "answered 1\n(.|\n)*answered 15");
}
