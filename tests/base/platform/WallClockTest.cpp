// Waits and stopwatches must not follow the wall clock: the board sets it ten
// years ahead at start and time sync moves it back. A child process runs with
// a preloaded shim that shifts every wall-clock reading, stepped by the test;
// the host's clock is never touched.
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "base/threads/Cond.h"
#include "base/threads/Mutex.h"
#include "base/threads/PThread.h"
#include "base/threads/Semaphore.h"
#include "base/threads/Stopwatch.h"
#include "support/Emulator.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using testsupport::monotonicMs;

namespace {

constexpr long kTenYears = 10L * 365 * 24 * 3600;

using StepFunc = void (*)(long);

StepFunc wallStep()
{
    return reinterpret_cast<StepFunc>(dlsym(RTLD_DEFAULT, "wallshift_step"));
}

// Far more than any wait below takes, even on a loaded machine or under a
// sanitizer; a wait that follows the wall clock back by ten years overruns it.
constexpr int kWaitBoundMs = 20000;
constexpr int kChildBoundMs = 120000;

// Steps the wall clock by `seconds` halfway through `wait`, returns how long
// the wait took. A wait past the bound ends the child at once, with the reason.
long long timedAcrossStep(long seconds, const std::function<void()>& wait)
{
    std::thread stepper([seconds] {
        PThread::msleep(100);
        wallStep()(seconds);
    });
    std::atomic<bool> done{false};
    long long elapsed = 0;
    std::thread waiter([&] {
        const long long start = monotonicMs();
        wait();
        elapsed = monotonicMs() - start;
        done = true;
    });
    if (!testsupport::eventually([&] { return done.load(); }, kWaitBoundMs, 5000)) {
        printf("a wait across a wall-clock step of %ld s did not end within %d ms\n", seconds, kWaitBoundMs);
        fflush(stdout);
        _exit(3);
    }
    waiter.join();
    stepper.join();
    return elapsed;
}

} // namespace

// Runs only inside the child started below.
TEST(WallClockStepChild, WaitsAndStopwatchesIgnoreTheStep)
{
    if (!getenv("TALVIKS_WALLSHIFT_CHILD"))
        GTEST_SKIP() << "runs in the child process of WallClockStep";
    ASSERT_NE(nullptr, wallStep());

    for (long step : {kTenYears, -kTenYears}) {
        const time_t before = time(nullptr);
        Stopwatch watch;
        EXPECT_GE(timedAcrossStep(step, [] { PThread::msleep(300); }), 300);
        ASSERT_GT(std::labs(time(nullptr) - before), kTenYears / 2) << "the shim did not step the clock";
        EXPECT_GE(watch.elapsedMs(), 300);
        EXPECT_LT(watch.elapsedMs(), 5000);
        EXPECT_LE(watch.elapsedSec(), 5);

        Mutex mutex;
        Cond cond(mutex);
        const long long condMs = timedAcrossStep(step, [&] {
            mutex.lock();
            EXPECT_EQ(ETIMEDOUT, cond.wait(300));
            mutex.unlock();
        });
        EXPECT_GE(condMs, 300);
        EXPECT_LT(condMs, 5000);

        Semaphore sem(0);
        const long long semMs = timedAcrossStep(step, [&] { EXPECT_EQ(-1, sem.wait(300)); });
        EXPECT_GE(semMs, 300);
        EXPECT_LT(semMs, 5000);

        mutex.lock();
        long long lockMs = 0;
        std::thread other([&] { lockMs = timedAcrossStep(step, [&] { EXPECT_EQ(ETIMEDOUT, mutex.lock(300)); }); });
        other.join();
        mutex.unlock();
        EXPECT_GE(lockMs, 300);
        EXPECT_LT(lockMs, 5000);
    }
}

TEST(WallClockStep, TimedWaitsLastTheirTimeWhenTheWallClockJumps)
{
    // This program again, behind the emulator in a cross build.
    std::vector<std::string> argv = testsupport::programArgv(testsupport::selfPath());
    argv.push_back("--gtest_filter=WallClockStepChild.*");
    const std::string outputFile = rootPath("/wallclock-child.txt");
    const int status = testsupport::runBounded(argv,
                                  {"TALVIKS_WALLSHIFT_CHILD=1", std::string("LD_PRELOAD=") + TALVIKS_WALLSHIFT_LIB,
                                   "ASAN_OPTIONS=verify_asan_link_order=0"},
                                  outputFile, kChildBoundMs);
    const std::string output = testsupport::readFile(outputFile);
    ASSERT_NE(-1, status) << "the child overran " << kChildBoundMs << " ms and was killed\n" << output;
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(0, WEXITSTATUS(status)) << output;
    EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
}

TEST(WallClockStep, SettingTheWallClockUnderAScratchRootIsRefused)
{
    ASSERT_FALSE(rootPrefix().empty());
    timeval tv = platform().clock().wallTime();
    tv.tv_sec += kTenYears;
    EXPECT_EQ(-EPERM, platform().clock().setWallTime(tv));
    EXPECT_LT(std::labs(time(nullptr) - (tv.tv_sec - kTenYears)), 60);
}
