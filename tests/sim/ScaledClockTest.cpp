#include "base/platform/Platform.h"
#include "base/threads/PThread.h"
#include "board/ScaledClock.h"

#include <gtest/gtest.h>

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
