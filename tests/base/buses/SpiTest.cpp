#include "base/buses/Spi.h"
#include "base/platform/Platform.h"
#include "board/RecordingDevices.h"
#include "board/SimBoard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

using HardwareInterface::Spi;

namespace {

const char kNode[] = "/dev/spidev0.0";

class SpiOnBoard : public ::testing::Test
{
protected:
    SpiOnBoard() { board.attach(kNode, chip); }

    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<sim::RecordingSpiDevice> chip = std::make_shared<sim::RecordingSpiDevice>();
    Spi spi;
};

} // namespace

TEST_F(SpiOnBoard, OpenSetsModeWordSizeAndClock)
{
    ASSERT_EQ(0, spi.open(kNode, SPI_MODE_3, 8, 500000, 1));
    EXPECT_TRUE(spi.isOpen());
    EXPECT_EQ(SPI_MODE_3, chip->settings().mode);
    EXPECT_EQ(8, chip->settings().bitsPerWord);
    EXPECT_EQ(500000u, chip->settings().speedHz);
    EXPECT_EQ(0, spi.close());
    EXPECT_FALSE(spi.isOpen());
    EXPECT_EQ(0, board.openFiles(kNode));
}

TEST_F(SpiOnBoard, TransfersAreSingleMessagesWithTheOpenSettings)
{
    ASSERT_EQ(0, spi.open(kNode, SPI_MODE_0, 8, 50000000, 1));
    chip->queueReply({0x11, 0x22, 0x33, 0x44, 0x55});
    const uint8_t frame[5] = {0xA1, 0x00, 0x00, 0x00, 0x2A};
    uint8_t reply[5] = {};
    EXPECT_EQ(5, spi.transfer(frame, reply, 5));
    EXPECT_EQ(4, spi.write(frame, 4));
    chip->queueReply({0x9C});
    uint8_t status[2] = {0xEE, 0xEE};
    EXPECT_EQ(2, spi.read(status, 2));

    const auto transfers = chip->transfers();
    ASSERT_EQ(3u, transfers.size());
    for (const auto& t : transfers) {
        EXPECT_EQ(50000000u, t.speedHz);
        EXPECT_EQ(8, t.bitsPerWord);
        EXPECT_EQ(1, t.csChange);
        EXPECT_EQ(0, t.delayUsecs);
    }
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 5), transfers[0].tx);
    EXPECT_TRUE(transfers[0].hasTx && transfers[0].hasRx);
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55}), std::vector<uint8_t>(reply, reply + 5));
    EXPECT_EQ(4u, transfers[1].length);
    EXPECT_TRUE(transfers[1].hasTx && !transfers[1].hasRx);
    EXPECT_TRUE(!transfers[2].hasTx && transfers[2].hasRx);
    EXPECT_EQ(0x9C, status[0]);
    EXPECT_EQ(0x00, status[1]); // zeroed, then filled from the wire
}

TEST_F(SpiOnBoard, ASettingTheNodeRefusesClosesIt)
{
    board.faults().failNext(kNode, sim::IoOp::Ioctl, 1, EINVAL, SPI_IOC_WR_MAX_SPEED_HZ);
    EXPECT_EQ(-1, spi.open(kNode, SPI_MODE_0, 8, 500000, 0));
    EXPECT_FALSE(spi.isOpen());
    EXPECT_EQ(0, board.openFiles(kNode));
    EXPECT_EQ(0, spi.open(kNode, SPI_MODE_0, 8, 500000, 0));
}

TEST_F(SpiOnBoard, AFailedOpenNamesTheStepAndKeepsTheCause)
{
    Spi::OpenStep step = Spi::OpenStep::None;
    board.faults().failNext(kNode, sim::IoOp::Ioctl, 1, EINVAL, SPI_IOC_WR_BITS_PER_WORD);
    EXPECT_EQ(-1, spi.open(kNode, SPI_MODE_0, 8, 500000, 0, &step));
    EXPECT_EQ(Spi::OpenStep::BitsPerWord, step);
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(-1, spi.open("/dev/spidev1.0", SPI_MODE_0, 8, 500000, 0, &step));
    EXPECT_EQ(Spi::OpenStep::Open, step);
    EXPECT_EQ(0, spi.open(kNode, SPI_MODE_0, 8, 500000, 0, &step));
    EXPECT_EQ(Spi::OpenStep::None, step);
}

TEST_F(SpiOnBoard, TransferFailuresReturnTheNegativeErrno)
{
    ASSERT_EQ(0, spi.open(kNode, SPI_MODE_0, 8, 500000, 0));
    board.faults().failNext(kNode, sim::IoOp::Ioctl, 1, EIO);
    uint8_t bytes[5] = {};
    EXPECT_EQ(-EIO, spi.transfer(bytes, bytes, 5));
    EXPECT_TRUE(spi.isOpen());
    static uint8_t large[sim::SpiDeviceModel::kMaxMessageBytes + 1];
    EXPECT_EQ(-EMSGSIZE, spi.write(large, sizeof large));
    EXPECT_EQ(5, spi.transfer(bytes, bytes, 5));
}

TEST_F(SpiOnBoard, AMissingNodeDoesNotOpen)
{
    // Not attached: under a scratch root the host's own nodes stay untouched.
    EXPECT_EQ(-1, spi.open("/dev/spidev1.0", SPI_MODE_0, 8, 500000, 0));
    EXPECT_FALSE(spi.isOpen());
}

TEST_F(SpiOnBoard, TransfersFromManyThreadsSeeOneWholeSetUp)
{
    // Another thread opening the node again with other settings: every
    // transfer goes out whole, with either the old or the new settings.
    ASSERT_EQ(0, spi.open(kNode, SPI_MODE_0, 8, 1000000, 0));
    std::atomic<bool> done{false};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            uint8_t frame[5] = {static_cast<uint8_t>(t), 1, 2, 3, 4};
            uint8_t reply[5] = {};
            while (!done)
                failed += spi.transfer(frame, reply, 5) != 5;
        });
    for (int i = 0; i < 2000; ++i) {
        const bool wide = i % 2 == 0;
        ASSERT_EQ(0, spi.open(kNode, SPI_MODE_0, wide ? 16 : 8, wide ? 2000000 : 1000000, 0));
    }
    done = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, failed.load());
    for (const auto& t : chip->transfers()) {
        const bool narrow = t.speedHz == 1000000u && t.bitsPerWord == 8;
        const bool wide = t.speedHz == 2000000u && t.bitsPerWord == 16;
        ASSERT_TRUE(narrow || wide) << t.speedHz << " Hz, " << int(t.bitsPerWord) << " bits";
    }
    spi.close();
    EXPECT_EQ(0, board.openFiles(kNode));
}
