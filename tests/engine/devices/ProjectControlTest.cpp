#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "base/threads/PThread.h"
#include "board/PrinterBoard.h"
#include "board/RecordingDevices.h"
#include "board/ScaledClock.h"
#include "engine/devices/AdcMonitor.h"
#include "engine/devices/ProjectControl.h"
#include "engine/devices/UVLightControl.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int64_t machineNs()
{
    return timespecToNs(platform().clock().now());
}

class ProjectControlTest : public ::testing::Test
{
protected:
    std::vector<Bytes> i2cWrites()
    {
        std::vector<Bytes> result;
        for (const auto& entry : printer.board().traffic().entries(sim::PrinterBoard::kI2cPath, "i2c-write"))
            result.push_back(entry.bytes);
        return result;
    }
    size_t i2cTraffic() { return printer.board().traffic().entries(sim::PrinterBoard::kI2cPath).size(); }
    void clearTraffic() { printer.board().traffic().clear(); }
    sim::DisplayControllerModel& display() { return printer.display(); }

    sim::ScaledClock clock{1000};
    ScopedPlatform installedClock{&clock};
    sim::PrinterBoard printer;
    ScopedPlatform installed{&printer.board()};
    ProjectControl projector{"/dev/i2c-0"};
    UVLightControl light;
};

} // namespace

TEST_F(ProjectControlTest, InitializePowersUpThenSetsTheVideoInput)
{
    std::mutex mutex;
    std::vector<std::pair<int, int64_t>> power;
    printer.gpio().drive(sim::PrinterBoard::kProjectorPowerLine, 1);
    const int listener = printer.gpio().addListener([&](unsigned int line, int level) {
        std::lock_guard<std::mutex> lock(mutex);
        if (line == sim::PrinterBoard::kProjectorPowerLine)
            power.emplace_back(level, machineNs());
    });
    const int rc = light.initialize(&projector);
    printer.gpio().removeListener(listener);
    ASSERT_EQ(0, rc);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(2u, power.size());
        EXPECT_EQ(0, power[0].first);
        EXPECT_EQ(1, power[1].first);
        EXPECT_GE(power[1].second - power[0].second, 500 * 1000000LL);
    }
    const std::vector<Bytes> expected = {
        {0x1A, 0x01},
        {0x12, 0x80, 0x07, 0x38, 0x04},
        {0x2E, 0x80, 0x07, 0x38, 0x04},
        {0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x07, 0x38, 0x04},
        {0x07, 0x43},
        {0x05, 0x00},
        {0x1A, 0x00},
    };
    EXPECT_EQ(expected, i2cWrites());
    const auto input = display().videoInput();
    EXPECT_EQ(1920, input.inputWidth);
    EXPECT_EQ(1080, input.inputHeight);
    EXPECT_EQ(1920, input.displayWidth);
    EXPECT_EQ(1080, input.crop[3]);
    EXPECT_EQ(0x43, input.source);
    EXPECT_FALSE(input.updating);
    EXPECT_TRUE(projector.isPowerOn());
}

TEST_F(ProjectControlTest, LightSwitchesAndTheTimelineKeepsTheExposure)
{
    ASSERT_EQ(0, light.initialize(&projector));
    clearTraffic();
    const int64_t before = machineNs();
    EXPECT_TRUE(light.lightOn());
    EXPECT_TRUE(display().isLightOn());
    EXPECT_EQ(1, light.isLightOn());
    PThread::msleep(3000);
    EXPECT_EQ(1, light.lightOff(0));
    const int64_t after = machineNs();
    EXPECT_EQ(0, light.isLightOn());
    EXPECT_EQ((std::vector<Bytes>{{0x52, 4}, {0x53}, {0x52, 0}, {0x53}}), i2cWrites());
    const auto exposures = display().exposures();
    ASSERT_EQ(1u, exposures.size());
    EXPECT_GE(exposures[0].durationMs(), 3000);
    // Within the calls that switched it, however long they waited for the processor.
    EXPECT_LE(exposures[0].durationMs(), (after - before) / 1000000);

    // Without power the controller does not answer: the light reports failure.
    EXPECT_EQ(0, projector.powerOff());
    EXPECT_FALSE(light.lightOn());
    EXPECT_EQ(0, light.lightOff(0));
    EXPECT_EQ(0, light.isLightOn());
}

TEST_F(ProjectControlTest, DutySetsTheCurrentAndItsLimit)
{
    ASSERT_EQ(0, light.initialize(&projector));
    EXPECT_EQ(0, light.setDuty(50, 60, 70, 80));
    EXPECT_EQ(511, display().current());
    EXPECT_EQ(0x4F, display().illumLimit());
    uint32_t d[4] = {9, 9, 9, 9};
    light.getDuty(&d[0], &d[1], &d[2], &d[3]);
    EXPECT_EQ((std::vector<uint32_t>{50, 0, 0, 0}), std::vector<uint32_t>(d, d + 4));
    uint16_t current = 0;
    EXPECT_EQ(0, projector.getCurrent(&current));
    EXPECT_EQ(511, current);

    EXPECT_EQ(0, light.setDuty(0, 0, 0, 0));
    EXPECT_EQ(0, display().current());
    EXPECT_EQ(0x2F, display().illumLimit());
    // Above 100 % the duty is held at 100, not wrapped.
    EXPECT_EQ(0, light.setDuty(150, 0, 0, 0));
    EXPECT_EQ(1023, display().current());
    EXPECT_EQ(0x7F, display().illumLimit());
    light.getDuty(&d[0], nullptr, nullptr, nullptr);
    EXPECT_EQ(100u, d[0]);
    // Currents outside 0..1023 are held inside it.
    EXPECT_EQ(0, projector.setCurrent(-5));
    EXPECT_EQ(0, display().current());
    EXPECT_EQ(0, projector.setCurrent(5000));
    EXPECT_EQ(1023, display().current());

    const std::pair<unsigned int, uint8_t> limits[] = {{200, 0x2F}, {201, 0x3F}, {300, 0x3F}, {400, 0x47},
                                                       {550, 0x4F}, {750, 0x6F}, {751, 0x77}, {900, 0x77},
                                                       {901, 0x7F}, {1023, 0x7F}};
    for (const auto& limit : limits) {
        EXPECT_EQ(0, projector.setIllumLimit(limit.first));
        EXPECT_EQ(limit.second, display().illumLimit()) << limit.first;
    }

    // A current block that cannot be read changes neither the current nor the limit.
    EXPECT_EQ(0, projector.setCurrent(300));
    printer.board().faults().failNext(sim::PrinterBoard::kI2cPath, sim::IoOp::Ioctl, 1, EIO);
    clearTraffic();
    EXPECT_EQ(-EIO, projector.setCurrent(800));
    EXPECT_EQ(300, display().current());
    EXPECT_EQ(0x3F, display().illumLimit());
    EXPECT_TRUE(i2cWrites().empty());
}

TEST_F(ProjectControlTest, NothingIsSentBeforeInitialize)
{
    EXPECT_FALSE(light.lightOn());
    EXPECT_EQ(0, light.lightOff(0));
    EXPECT_EQ(0, light.isLightOn());
    EXPECT_EQ(-ENODEV, light.setDuty(50, 0, 0, 0));
    EXPECT_EQ(-1, light.initialize(nullptr));
    EXPECT_FALSE(light.lightOn());
    // A controller never connected sends nothing either.
    EXPECT_EQ(-EBADF, projector.lightOn());
    EXPECT_FALSE(projector.isLightOn());
    EXPECT_EQ(0u, i2cTraffic());

    // A device that cannot be opened fails the set-up without any I2C traffic.
    printer.board().faults().failNext(sim::PrinterBoard::kI2cPath, sim::IoOp::Open, 1, ENOENT);
    EXPECT_EQ(-1, light.initialize(&projector));
    EXPECT_FALSE(projector.isConnected());
    EXPECT_TRUE(printer.board().traffic().entries(sim::PrinterBoard::kI2cPath, "i2c-write").empty());
}

TEST_F(ProjectControlTest, VersionsAreLogged)
{
    testsupport::makeDirs(rootPath("/data/var"));
    LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 20, 2, false);
    ASSERT_EQ(0, light.initialize(&projector));
    EXPECT_EQ(0, projector.printVersions(0));
    EXPECT_EQ(0, projector.getSoftwareVersion());
    uint32_t status = 9;
    EXPECT_EQ(0, projector.getShowStatus(&status));
    EXPECT_EQ(0u, status);
    const std::string log = testsupport::readFile(rootPath("/data/var/TalvikS.log"));
    EXPECT_NE(std::string::npos, log.find("Application Version: 5.1.0"));
    EXPECT_NE(std::string::npos, log.find("Software version: 7.4.2"));
    EXPECT_NE(std::string::npos, log.find("Sequencer Version: 2.0.1"));
}

TEST_F(ProjectControlTest, WriteLengthsAreAContract)
{
    auto recorder = std::make_shared<sim::RecordingI2cTarget>();
    printer.i2c().attachTarget(ProjectControl::kAddress, recorder);
    ASSERT_EQ(0, projector.connect());
    uint8_t data[64] = {};
    EXPECT_EQ(0, projector.i2c_write(0x54, data, 63));
    ASSERT_EQ(1u, recorder->transactions().size());
    EXPECT_EQ(64u, recorder->transactions()[0][0].data.size());
    EXPECT_DEATH(projector.i2c_write(0x54, data, 64), "count");
    EXPECT_DEATH(projector.i2c_write(0x54, data, 0), "count");
}

TEST(AdcMonitorTest, ReadsTheConvertersVoltage)
{
    sim::ScaledClock clock(1000);
    ScopedPlatform installedClock(&clock);
    sim::SimBoard board;
    ScopedPlatform installed(&board);
    auto bus = std::make_shared<sim::I2cBusModel>();
    auto converter = std::make_shared<sim::RecordingI2cTarget>();
    bus->attachTarget(0x48, converter);
    board.attach("/dev/i2c-1", bus);
    AdcMonitor adc;
    ASSERT_EQ(0, adc.open("/dev/i2c-1", 0x48));
    EXPECT_EQ(-1, adc.open("/dev/i2c-1", 0x48));
    converter->queueReply({0x40, 0x00});
    double volts = 0;
    EXPECT_EQ(0, adc.getLEDADValue(&volts));
    EXPECT_NEAR(0x4000 * 6.250190926948562e-05 + 2.5, volts, 1e-9);
    converter->queueReply({0xC0, 0x00}); // negative as a signed 16-bit value
    EXPECT_EQ(0, adc.getPRTADValue(&volts));
    EXPECT_NEAR(-0x4000 * 6.250190926948562e-05 + 2.5, volts, 1e-9);
    const auto transactions = converter->transactions();
    ASSERT_EQ(4u, transactions.size());
    EXPECT_EQ((Bytes{0x01, 0x94, 0x83}), transactions[0][0].data);
    EXPECT_EQ((Bytes{0x00}), transactions[1][0].data);
    EXPECT_EQ((Bytes{0x01, 0xB4, 0x83}), transactions[2][0].data);
    adc.close();
}
