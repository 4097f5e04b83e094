#include "base/config/ConfigStore.h"
#include "base/platform/Platform.h"
#include "base/threads/PThread.h"
#include "board/PrinterBoard.h"
#include "board/ScaledClock.h"
#include "engine/devices/MotorControl.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <linux/spi/spidev.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

using testsupport::monotonicMs;

namespace {

using Model = sim::StepperDriverModel;
using Write = std::pair<uint8_t, uint32_t>;

PrinterConfig& config()
{
    return ConfigStore::instance()->m_printerConfig;
}

int64_t machineMs()
{
    return timespecToNs(platform().clock().now()) / 1000000;
}

class MotorControlTest : public ::testing::Test
{
protected:
    // The machine clock runs `speed` times real time.
    explicit MotorControlTest(double speed = 500) : clock(speed) {}

    // Register writes that reached the chip, in order.
    std::vector<Write> writes()
    {
        std::vector<Write> result;
        for (const auto& entry : printer.board().traffic().entries(Model::kPath, "spi"))
            if (entry.bytes.size() == 5 && (entry.bytes[0] & 0x80) && entry.result >= 0)
                result.emplace_back(entry.bytes[0] & 0x7F, uint32_t(entry.bytes[1]) << 24 |
                                                                uint32_t(entry.bytes[2]) << 16 |
                                                                uint32_t(entry.bytes[3]) << 8 | entry.bytes[4]);
        return result;
    }
    std::vector<uint32_t> rampWrites()
    {
        std::vector<uint32_t> result;
        for (const Write& w : writes())
            if (w.first >= 0x24 && w.first <= 0x2A)
                result.push_back(w.second);
        return result;
    }
    size_t spiTraffic() { return printer.board().traffic().entries(Model::kPath).size(); }
    void clearTraffic() { printer.board().traffic().clear(); }

    // Initialised with the general ramp; the chip counts 0 where the plate stands now.
    void ready()
    {
        ASSERT_EQ(0, motor.initialize(nullptr, 2000, 128));
        // Before any ramp: the chip cannot move between the two position writes.
        ASSERT_EQ(0, motor.setHome());
        ASSERT_EQ(0, motor.setRamp(config().MotorParaI));
    }
    // A steady 0.67 mm/s, so a long move is still under way when the test acts.
    MotorPara slowProfile() { return MotorPara{2, 2, 0.5f, 160}; }

    sim::ScaledClock clock;
    ScopedPlatform installedClock{&clock};
    sim::PrinterBoard printer;
    ScopedPlatform installed{&printer.board()};
    MotorControl motor;
};

// A machine clock a hundred times slower than real time: a move's wait polls
// the chip every 10 s of real time and gives up after hours, so only a stop
// that wakes it ends it early, however busy the host.
class MotorStopTest : public MotorControlTest
{
protected:
    MotorStopTest() : MotorControlTest(0.01) {}

    // Until the chip moves, in real time (machine time hardly passes).
    void waitUntilMoving()
    {
        ASSERT_TRUE(testsupport::eventually([&] { return printer.motor().isMoving(); }));
    }
};

// The board, but the thread that reads the axis's position is held back
// once, after the reply, as a busy host's scheduler may do.
class HeldBackIo : public SysIo
{
public:
    explicit HeldBackIo(SysIo& board) : m_board(board) {}
    void holdAfterNextPositionRead(int realMs) { m_holdMs = realMs; }

    int ioctl(int fd, unsigned long request, void* arg) override
    {
        const int rc = m_board.ioctl(fd, request, arg);
        if (request == SPI_IOC_MESSAGE(1)) {
            const auto* transfer = static_cast<const spi_ioc_transfer*>(arg);
            const uint8_t address = reinterpret_cast<const uint8_t*>(transfer->tx_buf)[0];
            // The frame after a read of the actual position carries its value.
            if (m_afterPositionRead && m_holdMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(m_holdMs));
                m_holdMs = 0;
            }
            m_afterPositionRead = address == Model::Actual;
        }
        return rc;
    }
    int open(const char* path, int flags, mode_t mode) override { return m_board.open(path, flags, mode); }
    int close(int fd) override { return m_board.close(fd); }
    ssize_t read(int fd, void* buffer, size_t count) override { return m_board.read(fd, buffer, count); }
    ssize_t write(int fd, const void* buffer, size_t count) override { return m_board.write(fd, buffer, count); }
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override { return m_board.poll(fds, count, timeoutMs); }
    off_t lseek(int fd, off_t offset, int whence) override { return m_board.lseek(fd, offset, whence); }

private:
    SysIo& m_board;
    int m_holdMs = 0;
    bool m_afterPositionRead = false;
};

const std::vector<Write> kSetUp = {
    {0x6C, 0x000100C5}, {0x10, 0x00060807}, {0x11, 0x10}, {0x20, 0}, {0x21, 0}, {0x23, 240},
    {0x2B, 10},         {0x2C, 0},          {0x2D, 0},    {0x34, 0x35}, {0x09, 0x00020D0D},
    {0x10, 0x00081F10}, {0x6C, 0x010100C5},
};

} // namespace

TEST_F(MotorControlTest, InitializeSetsTheChipUpForEachPitch)
{
    struct Case
    {
        uint32_t pitch;
        uint32_t middle, startVelocity, stopVelocity;
    };
    for (const Case& c : {Case{2000, 1920000, 2215, 2658}, Case{400, 9600000, 8259, 9911}}) {
        SCOPED_TRACE(c.pitch);
        clearTraffic();
        ASSERT_EQ(0, motor.initialize(nullptr, c.pitch, 128));
        std::vector<Write> expected = kSetUp;
        expected.insert(expected.end(), {{0x21, c.middle}, {0x2D, c.middle}, {0x23, c.startVelocity},
                                         {0x2B, c.stopVelocity}});
        EXPECT_EQ(expected, writes());
        EXPECT_FLOAT_EQ(300, motor.getMaxPosition());
        EXPECT_EQ(128u, printer.motor().microsteps());
    }
    const auto spi = printer.motor().settings();
    EXPECT_EQ(SPI_MODE_0, spi.mode);
    EXPECT_EQ(8, spi.bitsPerWord);
    EXPECT_EQ(500000u, spi.speedHz);
    EXPECT_TRUE(printer.gpio().isOutput(sim::PrinterBoard::kMotorEnableLine));
    EXPECT_EQ(0, printer.gpio().level(sim::PrinterBoard::kMotorEnableLine));
    EXPECT_EQ("falling", printer.gpio().edge(sim::PrinterBoard::kLimitLine));

    // An unknown resolution falls back to code 0 and keeps the other bits.
    clearTraffic();
    EXPECT_EQ(0, motor.setMicroStep(100));
    EXPECT_EQ((std::vector<Write>{{0x6C, 0x000100C5}}), writes());
}

TEST_F(MotorControlTest, RampRegistersMatchTheGoldenValues)
{
    const PrintingPara para = PrintingPara::normalSet(150);
    struct Case
    {
        uint32_t pitch;
        std::vector<uint32_t> one, lift, drop;
    };
    const Case cases[] = {
        {2000, {446, 55380, 446, 110760, 446, 446}, {223, 44304, 893, 177216, 1116, 1116},
         {893, 88608, 893, 177216, 1116, 893}},
        {400, {1665, 206488, 1665, 412977, 1665, 1665}, {832, 165191, 3331, 660764, 4163, 4163},
         {3331, 330382, 3331, 660764, 4163, 3331}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pitch);
        ASSERT_EQ(0, motor.initialize(nullptr, c.pitch, 128));
        clearTraffic();
        EXPECT_EQ(0, motor.setRamp(config().MotorParaI));
        EXPECT_EQ(c.one, rampWrites());
        clearTraffic();
        EXPECT_EQ(0, motor.setTwoStageRamp(para.LiftI, para.LiftII)); // slow start, fast finish
        EXPECT_EQ(c.lift, rampWrites());
        clearTraffic();
        EXPECT_EQ(0, motor.setTwoStageRamp(para.DropI, para.DropII)); // fast start, slow finish
        EXPECT_EQ(c.drop, rampWrites());
    }
    // Registers in order 0x24, 0x25, 0x26, 0x27, 0x28, 0x2A.
    std::vector<uint8_t> addresses;
    for (const Write& w : writes())
        addresses.push_back(w.first);
    EXPECT_EQ((std::vector<uint8_t>{0x24, 0x25, 0x26, 0x27, 0x28, 0x2A}), addresses);
}

TEST_F(MotorControlTest, UnusableNumbersAreRefusedBeforeTheChipSeesThem)
{
    // A motor that failed to initialise refuses every motion, at once.
    EXPECT_EQ(-EINVAL, motor.initialize(nullptr, 0, 128));
    EXPECT_EQ(-EINVAL, motor.initialize(nullptr, 4000000000u, 128));
    EXPECT_EQ(-EINVAL, motor.initialize(nullptr, 2000, 100));
    config().ZLength = NAN;
    EXPECT_EQ(-EINVAL, motor.initialize(nullptr, 2000, 128));
    config().ZLength = 150;
    EXPECT_EQ(0u, spiTraffic());
    const long long start = monotonicMs();
    EXPECT_EQ(-ENODEV, motor.move(10, true, false));
    EXPECT_EQ(-ENODEV, motor.waitMoveDone());
    EXPECT_EQ(-ENODEV, motor.home());
    EXPECT_EQ(-ENODEV, motor.setRamp(config().MotorParaI));
    EXPECT_LT(monotonicMs() - start, 1000);
    EXPECT_EQ(0u, spiTraffic());

    ASSERT_EQ(0, motor.initialize(nullptr, 2000, 128));
    clearTraffic();
    EXPECT_EQ(-EINVAL, motor.setTwoStageRamp(MotorPara{1, 1, 1, 0}, MotorPara{4, 5, 8, 4}));
    EXPECT_EQ(-EINVAL, motor.setTwoStageRamp(MotorPara{4, 5, 8, 4}, MotorPara{1, 1, 1, 0}));
    EXPECT_EQ(-EINVAL, motor.setRamp(MotorPara{NAN, 2, 5, 160}));
    EXPECT_EQ(-EINVAL, motor.setRamp(MotorPara{2, 2, -5, 160}));
    EXPECT_EQ(-EINVAL, motor.setRamp(MotorPara{2, 2, 1e30f, 160}));
    EXPECT_EQ(-EINVAL, motor.move(NAN, true, true));
    EXPECT_EQ(-EINVAL, motor.move(INFINITY, true, false));
    EXPECT_EQ(0u, spiTraffic());
}

TEST_F(MotorControlTest, MovesReachTheirPhysicalTargets)
{
    ready();
    const double base = printer.motor().physicalMm();
    EXPECT_EQ(0, motor.move(20, true, false));
    EXPECT_NEAR(base + 20, printer.motor().physicalMm(), 1e-3);
    float position = 0;
    EXPECT_GE(motor.getPosition(&position), 0);
    EXPECT_NEAR(20, position, 1e-4);

    EXPECT_EQ(0, motor.move(-5.5f, true, true));
    EXPECT_NEAR(base + 14.5, printer.motor().physicalMm(), 1e-3);

    const PrintingPara para = PrintingPara::normalSet(150);
    ASSERT_EQ(0, motor.setTwoStageRamp(para.LiftI, para.LiftII));
    EXPECT_EQ(0, motor.move(6, true, true));
    EXPECT_NEAR(base + 20.5, printer.motor().physicalMm(), 1e-3);
    EXPECT_EQ(0, motor.stop());
}

TEST_F(MotorControlTest, TargetsStayWithinTheTravel)
{
    ready();
    clearTraffic();
    EXPECT_EQ(0, motor.move(0.00001f, false, true)); // below one microstep: nothing written
    EXPECT_TRUE(writes().empty());
    motor.move(-5, false, false);
    EXPECT_EQ(0, printer.motor().targetPosition());
    motor.move(1000, false, false);
    EXPECT_EQ(150 * 12800, printer.motor().targetPosition());
    motor.stop();
    motor.move(-1000, false, true);
    EXPECT_EQ(0, printer.motor().targetPosition());
    motor.stop();
}

TEST_F(MotorControlTest, AStalledMoveTimesOutOnMachineTime)
{
    ready();
    EXPECT_EQ(0, motor.move(5, false, true)); // no waited move yet: the kept result is 0
    ASSERT_TRUE(printer.motor().waitForStandstill(5000));
    printer.motor().setStall(true);
    const int64_t machineStart = machineMs();
    const long long realStart = monotonicMs();
    EXPECT_EQ(-1, motor.move(10, true, true));
    EXPECT_GE(machineMs() - machineStart, MotorControl::kMoveTimeoutMs);
    EXPECT_LT(monotonicMs() - realStart, 5000);
    // Moves without a wait report the kept result of the last waited one.
    EXPECT_EQ(-1, motor.move(1, false, true));
    motor.stop();
}

TEST_F(MotorControlTest, AMoveDoneInTimeIsNotFailedByAWaitHeldBackPastItsDeadline)
{
    ready();
    const double base = printer.motor().physicalMm();
    HeldBackIo heldBack(printer.board());
    ScopedPlatform installedHeldBack(&heldBack);
    // The first position read comes early in the move; then the wait is
    // held back well past its 30 machine seconds (60 ms here).
    heldBack.holdAfterNextPositionRead(300);
    EXPECT_EQ(0, motor.move(12, true, false));
    EXPECT_NEAR(base + 12, printer.motor().physicalMm(), 1e-3);
}

TEST_F(MotorControlTest, FailedRegisterAccessIsNeverTakenForSuccess)
{
    ready();
    auto& faults = printer.board().faults();
    // The target write fails: the waited move reports it instead of waiting for an old target.
    faults.failNext(Model::kPath, sim::IoOp::Ioctl, 1, EIO);
    const long long start = monotonicMs();
    EXPECT_EQ(-EIO, motor.move(30, true, false));
    EXPECT_LT(monotonicMs() - start, 1000);
    EXPECT_EQ(0, printer.motor().targetPosition());

    // The position read fails: no target is made from it.
    clearTraffic();
    faults.failNext(Model::kPath, sim::IoOp::Ioctl, 1, EIO);
    EXPECT_EQ(-EIO, motor.move(10, true, true));
    for (const Write& w : writes())
        EXPECT_NE(0x2D, w.first);
    float position = 42;
    faults.failNext(Model::kPath, sim::IoOp::Ioctl, 1, EIO);
    EXPECT_EQ(-EIO, motor.getPosition(&position));
    EXPECT_EQ(42, position);
}

TEST_F(MotorStopTest, StopWakesAWaitedMoveAtOnce)
{
    ready();
    ASSERT_EQ(0, motor.setRamp(slowProfile()));
    std::atomic<int> result{1};
    std::atomic<long long> returnedAt{0};
    std::thread mover([&] {
        result = motor.move(100, true, true);
        returnedAt = monotonicMs();
    });
    waitUntilMoving();
    // Briefly, so the wait has most likely begun (a stop before it ends it as well).
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const long long stoppedAt = monotonicMs();
    EXPECT_EQ(0, motor.stop());
    mover.join();
    EXPECT_EQ(-ECANCELED, result.load());
    EXPECT_LT(returnedAt - stoppedAt, 5000); // not at its next poll
    EXPECT_FALSE(printer.motor().isMoving());
    EXPECT_EQ(printer.motor().targetPosition(), printer.motor().actualPosition());
    EXPECT_EQ(0u, (printer.motor().registerValue(Model::Currents) >> 8) & 0x1F); // held without run current
}

TEST_F(MotorControlTest, TheMoveAfterAStopRestoresTheRunCurrent)
{
    ready();
    ASSERT_EQ(0, motor.setRamp(slowProfile()));
    ASSERT_EQ(0, motor.move(100, false, true));
    EXPECT_EQ(0, motor.stop());
    EXPECT_EQ(0u, (printer.motor().registerValue(Model::Currents) >> 8) & 0x1F);

    ASSERT_EQ(0, motor.setRamp(config().MotorParaI));
    EXPECT_EQ(0, motor.move(1, true, true));
    EXPECT_EQ(0x00081F10u, printer.motor().registerValue(Model::Currents));
}

TEST_F(MotorControlTest, RegisterReadsAreNeverSplitByAnotherThread)
{
    ready();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done)
            motor.writeRegister32(0x11, 0xABCDEF);
    });
    int wrong = 0;
    for (int i = 0; i < 2000; ++i) {
        uint32_t value = 1;
        if (motor.readRegister32(0x2C, &value) < 0 || value != 0)
            ++wrong;
    }
    done = true;
    writer.join();
    EXPECT_EQ(0, wrong);
}

TEST_F(MotorControlTest, HomingFromTheMiddleEndsAtTheSwitch)
{
    ASSERT_EQ(0, motor.initialize(nullptr, 2000, 128));
    ASSERT_GT(printer.motor().physicalMm(), 50);
    EXPECT_EQ(0, motor.home());
    EXPECT_NEAR(0, printer.motor().physicalMm(), 0.01);
    EXPECT_EQ(0, printer.motor().actualPosition());
    EXPECT_EQ(0, printer.motor().targetPosition());
    EXPECT_FLOAT_EQ(150, motor.getMaxPosition());
    EXPECT_EQ(110760u, printer.motor().registerValue(0x27)); // the general ramp is back
    EXPECT_EQ(0u, printer.motor().registerValue(0x20));
    EXPECT_EQ(0, motor.readLimitSwitch());
    EXPECT_TRUE(motor.isLimitTriggered());
    // A homed axis moves in millimetres above the switch.
    EXPECT_EQ(0, motor.move(12, true, false));
    EXPECT_NEAR(12, printer.motor().physicalMm(), 0.01);
    EXPECT_EQ(0, motor.readLimitSwitch());
    EXPECT_FALSE(motor.isLimitTriggered());
}

TEST_F(MotorControlTest, HomingOnTheSwitchSkipsTheApproach)
{
    ASSERT_EQ(0, motor.initialize(nullptr, 2000, 128));
    printer.motor().placeAxis(0);
    clearTraffic();
    EXPECT_EQ(0, motor.home());
    EXPECT_NEAR(0, printer.motor().physicalMm(), 0.01);
    // The first target written is the bounce up, 5 mm above the middle.
    std::vector<uint32_t> targets;
    for (const Write& w : writes())
        if (w.first == 0x2D)
            targets.push_back(w.second);
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(1920000u + 5 * 12800, targets.front());
}

TEST_F(MotorControlTest, HomingWithASwitchStuckOpenFailsAndStopsTheAxis)
{
    ASSERT_EQ(0, motor.initialize(nullptr, 2000, 128));
    printer.motor().setSwitchFault(Model::SwitchFault::StuckOpen);
    const int64_t machineStart = machineMs();
    const long long realStart = monotonicMs();
    EXPECT_EQ(-1, motor.home());
    EXPECT_GE(machineMs() - machineStart, 3 * MotorControl::kSwitchWaitMs);
    EXPECT_LT(monotonicMs() - realStart, 10000);
    EXPECT_FALSE(printer.motor().isMoving());
    EXPECT_EQ(printer.motor().targetPosition(), printer.motor().actualPosition());
}

TEST_F(MotorControlTest, HomingWithASwitchStuckClosedFailsWithoutDrivingDown)
{
    printer.motor().placeAxis(40);
    ASSERT_EQ(0, motor.initialize(nullptr, 2000, 128));
    printer.motor().setSwitchFault(Model::SwitchFault::StuckClosed);
    const int64_t machineStart = machineMs();
    EXPECT_EQ(-1, motor.home());
    // Still closed after the bounce up: no wait for a change that cannot come.
    EXPECT_LT(machineMs() - machineStart, 3 * MotorControl::kSwitchWaitMs);
    EXPECT_NEAR(45, printer.motor().physicalMm(), 0.01);
    EXPECT_FALSE(printer.motor().isMoving());
    EXPECT_EQ(printer.motor().targetPosition(), printer.motor().actualPosition());
}

TEST_F(MotorStopTest, StopEndsHomingAtOnce)
{
    config().MotorParaI = slowProfile();
    ASSERT_EQ(0, motor.initialize(nullptr, 2000, 128));
    std::atomic<int> result{1};
    std::thread homer([&] { result = motor.home(); });
    waitUntilMoving();
    // Briefly, so the wait has most likely begun (a stop before it ends it as well).
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const long long stoppedAt = monotonicMs();
    motor.stop();
    homer.join();
    EXPECT_EQ(-ECANCELED, result.load());
    EXPECT_LT(monotonicMs() - stoppedAt, 5000);
    EXPECT_FALSE(printer.motor().isMoving());
    EXPECT_GT(printer.motor().physicalMm(), 10);
}
