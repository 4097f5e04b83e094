#include "base/PThread.h"
#include "board/ScaledClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(ScaledClockTest, MachineTimeRunsFasterAndWaitsShrink)
{
    sim::ScaledClock clock(100);
    sim::ScopedClock installed(&clock);
    const int64_t machineStart = timespecToNs(Clock::instance().now());
    const long long realStart = testsupport::monotonicMs();
    PThread::msleep(3000);
    const long long realMs = testsupport::monotonicMs() - realStart;
    const int64_t machineMs = (timespecToNs(Clock::instance().now()) - machineStart) / 1000000;
    EXPECT_GE(machineMs, 3000);
    EXPECT_LT(machineMs, 3000 + 100 * 200); // 200 ms of scheduling slack
    EXPECT_GE(realMs, 29);
    EXPECT_LT(realMs, 1000);
}
