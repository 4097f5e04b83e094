#include "base/buses/Gpio.h"
#include "base/platform/Platform.h"
#include "base/threads/PThread.h"
#include "board/GpioModel.h"
#include "board/ScaledClock.h"
#include "board/SimBoard.h"
#include "board/StepperDriverModel.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <array>
#include <atomic>
#include <cmath>
#include <optional>

namespace {

using Model = sim::StepperDriverModel;

// 128 microsteps per full step on a 2000 µm screw: 12800 microsteps per mm.
constexpr double kStepsPerMm = 12800;

// Machine time that moves only when the test moves it.
class HandClock : public Clock
{
public:
    timespec now() const override { return nsToTimespec(m_ns.load()); }
    void set(const timespec& time) { m_ns = timespecToNs(time); }
    void advance(double seconds) { m_ns += static_cast<int64_t>(seconds * 1e9); }

private:
    std::atomic<int64_t> m_ns{0};
};

class StepperDriverModelTest : public ::testing::Test
{
protected:
    StepperDriverModelTest()
    {
        board.attach(sim::GpioModel::kPath, gpio);
        board.attach(Model::kPath, motor);
        fd = io.open(Model::kPath, O_RDWR);
    }
    ~StepperDriverModelTest() override { io.close(fd); }

    std::array<uint8_t, 5> frame(uint8_t first, uint32_t value = 0)
    {
        std::array<uint8_t, 5> tx{first, uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                                  uint8_t(value)};
        std::array<uint8_t, 5> rx{};
        spi_ioc_transfer transfer{};
        transfer.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
        transfer.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        transfer.len = 5;
        EXPECT_EQ(5, io.ioctl(fd, SPI_IOC_MESSAGE(1), &transfer));
        return rx;
    }
    void write(uint8_t address, uint32_t value) { frame(address | 0x80, value); }
    uint32_t read(uint8_t address)
    {
        frame(address);
        const auto rx = frame(0);
        return uint32_t(rx[1]) << 24 | uint32_t(rx[2]) << 16 | uint32_t(rx[3]) << 8 | rx[4];
    }

    // Seconds from a stand to a point `mm` ahead, on the ramp below (one acceleration stage).
    static double rampSeconds(double mm)
    {
        const double vStart = 2215 * Model::kVelocityUnit, vMax = 110760 * Model::kVelocityUnit;
        const double a = 446 * Model::kAccelerationUnit;
        return (vMax - vStart) / a + (mm * kStepsPerMm - (vMax * vMax - vStart * vStart) / (2 * a)) / vMax;
    }

    // Run current, 128 microsteps, and a ramp of about 6.7 mm/s at 2.7 mm/s².
    void setUpRamp()
    {
        write(Model::Currents, 0x00081F10);
        write(Model::Chopper, 0x010100C5);
        write(Model::StartVelocity, 2215);
        write(Model::FirstAcceleration, 446);
        write(Model::SwitchVelocity, 55380);
        write(Model::MaxAcceleration, 446);
        write(Model::MaxVelocity, 110760);
        write(Model::MaxDeceleration, 446);
        write(Model::FinalDeceleration, 446);
        write(Model::StopVelocity, 2658);
    }


    // From here on machine time moves only with hand.advance(): a look at the
    // axis comes as late as the test likes, as on a busy host or a very fast clock.
    void holdTheClock()
    {
        hand.set(clock.now());
        handInstalled.emplace(&hand);
    }

    sim::ScaledClock clock{100};
    ScopedPlatform installedClock{&clock};
    HandClock hand; // outlives the model's thread
    sim::SimBoard board;
    ScopedPlatform installed{&board};
    SysIo& io = platform().io();
    std::shared_ptr<sim::GpioModel> gpio = std::make_shared<sim::GpioModel>();
    std::shared_ptr<Model> motor = Model::create(gpio);
    int fd = -1;
    std::optional<ScopedPlatform> handInstalled; // last: the scaled clock is back before the model goes
};

} // namespace

TEST_F(StepperDriverModelTest, ReadsArePipelinedOneFrameBehind)
{
    write(0x2C, 0x12345678);
    // The read frame's reply carries what the write before it stored; its own value comes next.
    const auto first = frame(0x2C);
    EXPECT_EQ(0x12, first[1]);
    EXPECT_EQ(0x78, first[4]);
    const auto second = frame(0x11);
    EXPECT_EQ((std::array<uint8_t, 4>{0x12, 0x34, 0x56, 0x78}), (std::array<uint8_t, 4>{second[1], second[2], second[3], second[4]}));
    EXPECT_EQ(0u, read(0x11));
    // Frames of another length change nothing.
    uint8_t tx[4] = {0xAC, 0, 0, 1}, rx[4] = {};
    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(tx);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(rx);
    transfer.len = 4;
    io.ioctl(fd, SPI_IOC_MESSAGE(1), &transfer);
    EXPECT_EQ(0x12345678u, read(0x2C));
}

TEST_F(StepperDriverModelTest, TrapezoidReachesTheTargetInTheRampTime)
{
    setUpRamp();
    write(Model::SwitchVelocity, 0); // one acceleration stage
    const double startMm = motor->physicalMm();
    write(Model::Target, static_cast<uint32_t>(50 * kStepsPerMm));
    ASSERT_TRUE(motor->waitForStandstill(30000));
    // The motion's own machine time: the test may notice its end late.
    const double took = motor->lastMotionSeconds();
    EXPECT_EQ(static_cast<int32_t>(50 * kStepsPerMm), motor->actualPosition());
    EXPECT_NEAR(startMm + 50, motor->physicalMm(), 1e-6);
    // Cruise distance / vmax + vmax / a, for vmax 85825 microsteps/s and a 34276 microsteps/s².
    const double vMax = 110760 * Model::kVelocityUnit, a = 446 * Model::kAccelerationUnit;
    const double expected = 50 * kStepsPerMm / vMax + vMax / a;
    EXPECT_NEAR(expected, took, 0.03 * expected);

    // An acceleration too weak to reach the maximum, and nobody looks on the
    // way: speeding up nearly all the way, it still brakes in time and stands
    // on the target.
    holdTheClock();
    const double weak = 22 * Model::kAccelerationUnit;
    write(Model::MaxAcceleration, 22);
    write(Model::Target, static_cast<uint32_t>(56 * kStepsPerMm));
    hand.advance(60);
    EXPECT_EQ(static_cast<int32_t>(56 * kStepsPerMm), motor->actualPosition());
    const double rising = std::sqrt(2 * 6 * kStepsPerMm / weak);
    EXPECT_NEAR(rising, motor->lastMotionSeconds(), 0.1 * rising);
}

TEST_F(StepperDriverModelTest, MotionTimeAddsUpTheMovesAndNotTheStandstills)
{
    setUpRamp();
    EXPECT_EQ(0, motor->motionNs());
    double moves = 0;
    for (double mm : {5.0, 2.0}) {
        write(Model::Target, static_cast<uint32_t>(mm * kStepsPerMm));
        ASSERT_TRUE(motor->waitForStandstill(30000));
        moves += motor->lastMotionSeconds();
        // Standing still, however long, adds nothing: the machine clock runs on.
        const int64_t after = motor->motionNs();
        PThread::msleep(50);
        read(Model::Actual);
        EXPECT_EQ(after, motor->motionNs());
    }
    EXPECT_NEAR(moves * 1e9, static_cast<double>(motor->motionNs()), 2e6);
}

TEST_F(StepperDriverModelTest, HeldModesAndZeroCurrentKeepTheAxisStill)
{
    setUpRamp();
    write(Model::Mode, 3);
    write(Model::Target, 12800);
    PThread::msleep(500);
    EXPECT_EQ(0, motor->actualPosition());
    write(Model::Currents, 0x00000010);
    write(Model::Mode, 0);
    PThread::msleep(500);
    EXPECT_EQ(0, motor->actualPosition());
    write(Model::Currents, 0x00081F10);
    ASSERT_TRUE(motor->waitForStandstill(2000));
    EXPECT_EQ(12800, motor->actualPosition());
}

TEST_F(StepperDriverModelTest, TheSwitchDrivesItsLineLatchesAndStopsTheAxis)
{
    setUpRamp();
    motor->placeAxis(2);
    EXPECT_EQ(1, gpio->level(8));
    write(Model::SwitchMode, 0x35);
    write(Model::Target, static_cast<uint32_t>(-5 * 12800));
    ASSERT_TRUE(motor->waitForStandstill(3000));
    // The line follows the switch from the model's own thread.
    EXPECT_TRUE(testsupport::eventually([&] { return gpio->level(8) == 0; }, 5000));
    EXPECT_TRUE(motor->switchClosed());
    // Stopped at the switch, short of the target, with the crossing latched.
    EXPECT_NEAR(0, motor->physicalMm(), 0.01);
    EXPECT_NEAR(-2 * 12800, static_cast<int32_t>(read(Model::Latch)), 130);
    EXPECT_NE(motor->targetPosition(), motor->actualPosition());
    // Upwards the switch lets go.
    write(Model::Target, static_cast<uint32_t>(motor->actualPosition() + 12800));
    ASSERT_TRUE(motor->waitForStandstill(3000));
    EXPECT_TRUE(testsupport::eventually([&] { return gpio->level(8) == 1; }, 5000));
}

TEST_F(StepperDriverModelTest, TheSwitchIsReachedOnMachineTimeHoweverLateTheLook)
{
    holdTheClock();
    setUpRamp();
    write(Model::SwitchMode, 0x35);
    // Homing from 75 mm, and two hours pass before anyone looks.
    write(Model::Target, static_cast<uint32_t>(-160 * 12800));
    hand.advance(7200);
    EXPECT_EQ(0, gpio->level(8));
    EXPECT_NEAR(0, motor->physicalMm(), 1e-6);
    EXPECT_NEAR(-75 * kStepsPerMm, static_cast<int32_t>(read(Model::Latch)), 1);
    EXPECT_NEAR(rampSeconds(75), motor->lastMotionSeconds(), 1e-3);

    // The line's edge, as a poll sees it, comes as the plate reaches the switch.
    write(Model::Target, static_cast<uint32_t>(-65 * 12800));
    hand.advance(7200);
    ASSERT_NEAR(10, motor->physicalMm(), 1e-6);
    ASSERT_EQ(0, gpio_export(8));
    ASSERT_EQ(0, gpio_set_edge(8, "falling"));
    const int value = gpio_fd_open(8);
    ASSERT_GT(value, 0);
    char level = 0;
    ASSERT_EQ(1, io.read(value, &level, 1));
    EXPECT_EQ('1', level);
    write(Model::Target, static_cast<uint32_t>(-160 * 12800));
    hand.advance(rampSeconds(10) - 0.002);
    EXPECT_EQ(0, gpio_wait_edge(value, 0));
    hand.advance(0.004);
    EXPECT_EQ(1, gpio_wait_edge(value, 0));
    EXPECT_NEAR(0, motor->physicalMm(), 1e-6);
    io.close(value);
}

TEST_F(StepperDriverModelTest, WithoutStopTheAxisRunsToTheHardEndAndLosesSteps)
{
    setUpRamp();
    motor->placeAxis(1);
    write(Model::Target, static_cast<uint32_t>(-10 * 12800));
    ASSERT_TRUE(motor->waitForStandstill(5000));
    EXPECT_EQ(-10 * 12800, motor->actualPosition());
    EXPECT_DOUBLE_EQ(motor->axis().lowerStopMm, motor->physicalMm());
}

TEST_F(StepperDriverModelTest, StallAndStuckSwitchFaults)
{
    setUpRamp();
    motor->setStall(true);
    write(Model::Target, 12800);
    PThread::msleep(1000);
    EXPECT_EQ(0, motor->actualPosition());
    EXPECT_FALSE(motor->isMoving());
    EXPECT_TRUE(frame(0)[0] & Model::kStatusStall);
    motor->setStall(false);
    ASSERT_TRUE(motor->waitForStandstill(3000));
    EXPECT_EQ(12800, motor->actualPosition());

    motor->setSwitchFault(Model::SwitchFault::StuckClosed);
    EXPECT_EQ(0, gpio->level(8));
    motor->setSwitchFault(Model::SwitchFault::StuckOpen);
    motor->placeAxis(-1);
    EXPECT_EQ(1, gpio->level(8));
    motor->setSwitchFault(Model::SwitchFault::None);
    EXPECT_EQ(0, gpio->level(8));
}
