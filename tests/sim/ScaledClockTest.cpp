#include "base/platform/Platform.h"
#include "base/threads/PThread.h"
#include "board/ScaledClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// Machine time, read between two readings of the kernel's clock.
struct Reading
{
    int64_t realBeforeNs;
    int64_t machineNs;
    int64_t realAfterNs;
};

Reading read(const Clock& clock)
{
    Reading reading{};
    reading.realBeforeNs = timespecToNs(kernelMonotonicNow());
    reading.machineNs = timespecToNs(clock.now());
    reading.realAfterNs = timespecToNs(kernelMonotonicNow());
    return reading;
}

} // namespace

TEST(ScaledClockTest, MachineTimeRunsFasterAndWaitsShrink)
{
    sim::ScaledClock clock(1000);
    ScopedPlatform installed(&clock);
    const Reading start = read(clock);
    PThread::msleep(60000);
    const Reading end = read(clock);

    // A thousand times real time, however long this thread waited for the processor.
    const int64_t machineNs = end.machineNs - start.machineNs;
    EXPECT_GE(machineNs, 1000 * (end.realBeforeNs - start.realAfterNs) - 1000);
    EXPECT_LE(machineNs, 1000 * (end.realAfterNs - start.realBeforeNs) + 1000);
    // A machine minute passed, in a sliver of a real one.
    EXPECT_GE(machineNs, 60000 * 1000000LL);
    EXPECT_GE(end.realAfterNs - start.realBeforeNs, 60 * 1000000LL);
    EXPECT_LT(end.realAfterNs - start.realBeforeNs, 30000 * 1000000LL);
}

TEST(ScaledClockTest, AHurryRunsMachineTimeOnFromWhereItStoodAndCutsNoSleepShort)
{
    sim::ScaledClock clock(0.001); // a machine second takes 1000 real ones
    ScopedPlatform installed(&clock);
    const int64_t startNs = timespecToNs(clock.now());
    std::thread hurry([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // into the sleep below
        const Reading before = read(clock);
        clock.hurry();
        const Reading after = read(clock);
        // No jump: the top speed's pace from the reading before on.
        EXPECT_GE(after.machineNs, before.machineNs);
        EXPECT_LE(after.machineNs - before.machineNs, 100000 * (after.realAfterNs - before.realBeforeNs) + 1000);
    });
    // Begun before the hurry, it ends soon after it, once its machine second passed.
    PThread::msleep(1000);
    hurry.join();
    EXPECT_GE(timespecToNs(clock.now()) - startNs, 1000 * 1000000LL);
}
