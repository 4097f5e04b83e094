#include "base/platform/Platform.h"
#include "base/threads/PThread.h"
#include "board/DisplayControllerModel.h"
#include "board/GpioModel.h"
#include "board/I2cBusModel.h"
#include "board/ScaledClock.h"
#include "board/SimBoard.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/i2c-dev.h>

#include <vector>

namespace {

using Model = sim::DisplayControllerModel;

class DisplayControllerModelTest : public ::testing::Test
{
protected:
    DisplayControllerModelTest()
    {
        bus->attachTarget(Model::kAddress, display);
        board.attach(sim::GpioModel::kPath, gpio);
        board.attach("/dev/i2c-0", bus);
        fd = io.open("/dev/i2c-0", O_RDWR);
    }
    ~DisplayControllerModelTest() override { io.close(fd); }

    int send(std::vector<uint8_t> bytes)
    {
        i2c_msg message{Model::kAddress, 0, static_cast<uint16_t>(bytes.size()), bytes.data()};
        i2c_rdwr_ioctl_data data{&message, 1};
        return io.ioctl(fd, I2C_RDWR, &data) < 0 ? -errno : 0;
    }
    int ask(uint8_t command, std::vector<uint8_t>& reply)
    {
        i2c_msg messages[2] = {{Model::kAddress, 0, 1, &command},
                               {Model::kAddress, I2C_M_RD, static_cast<uint16_t>(reply.size()), reply.data()}};
        i2c_rdwr_ioctl_data data{messages, 2};
        return io.ioctl(fd, I2C_RDWR, &data) < 0 ? -errno : 0;
    }

    sim::ScaledClock clock{1000};
    ScopedPlatform installedClock{&clock};
    sim::SimBoard board;
    ScopedPlatform installed{&board};
    SysIo& io = platform().io();
    std::shared_ptr<sim::GpioModel> gpio = std::make_shared<sim::GpioModel>();
    std::shared_ptr<sim::I2cBusModel> bus = std::make_shared<sim::I2cBusModel>();
    std::shared_ptr<Model> display = Model::create(gpio);
    int fd = -1;
};

} // namespace

TEST_F(DisplayControllerModelTest, AnswersOnlyWhilePowered)
{
    EXPECT_EQ(-ENXIO, send({0x52, 4}));
    gpio->drive(30, 1);
    EXPECT_EQ(0, send({0x52, 4}));
    std::vector<uint8_t> state(1);
    EXPECT_EQ(0, ask(0x53, state));
    EXPECT_EQ(4, state[0]);
    // Unknown commands and wrong lengths are refused.
    EXPECT_EQ(-EREMOTEIO, send({0x99, 1}));
    EXPECT_EQ(-EREMOTEIO, send({0x54, 1, 2}));
    EXPECT_EQ(-EREMOTEIO, send({0x52, 3}));
    std::vector<uint8_t> versions(16);
    EXPECT_EQ(0, ask(0xD2, versions));
    EXPECT_EQ(7, versions[11]); // software version major
}

TEST_F(DisplayControllerModelTest, TimelineRecordsExposuresAndCallsTheHook)
{
    gpio->drive(30, 1);
    EXPECT_EQ(0, send({0x54, 0, 0, 0, 0, 0xFF, 0x01}));
    std::vector<Model::LightEvent> seen;
    display->setLightHook([&](const Model::LightEvent& event) { seen.push_back(event); });
    const int64_t before = timespecToNs(platform().clock().now());
    EXPECT_EQ(0, send({0x52, 4}));
    ASSERT_EQ(1u, seen.size());
    EXPECT_TRUE(seen[0].on);
    EXPECT_EQ(511, seen[0].current);
    EXPECT_EQ(0, send({0x52, 4})); // already on: no new event
    PThread::msleep(2000);
    EXPECT_EQ(0, send({0x52, 0}));
    const int64_t offBy = timespecToNs(platform().clock().now());
    EXPECT_EQ(0, send({0x52, 4}));
    gpio->drive(30, 0); // power loss switches the light off
    EXPECT_FALSE(display->isLightOn());
    EXPECT_EQ(0, display->current());

    const auto exposures = display->exposures();
    ASSERT_EQ(2u, exposures.size());
    EXPECT_GE(exposures[0].durationMs(), 2000);
    // Within the commands that switched it, however long they waited for the processor.
    EXPECT_LE(exposures[0].durationMs(), (offBy - before) / 1000000);
    EXPECT_FALSE(exposures[1].isOpen());
    EXPECT_EQ(4u, seen.size());
    EXPECT_FALSE(seen.back().on);
}
