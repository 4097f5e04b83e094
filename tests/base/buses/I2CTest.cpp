#include "base/buses/I2C.h"
#include "base/platform/Platform.h"
#include "board/I2cBusModel.h"
#include "board/RecordingDevices.h"
#include "board/SimBoard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

using HardwareInterface::I2C;

static_assert(!std::is_copy_constructible_v<I2C> && !std::is_copy_assignable_v<I2C>,
              "two copies would give the same reference back twice");

namespace {

const char kBus[] = "/dev/i2c-0";
const uint16_t kAddress = 0x1B;

class I2COnBoard : public ::testing::Test
{
protected:
    I2COnBoard()
    {
        bus->attachTarget(kAddress, chip);
        board.attach(kBus, bus);
    }

    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<sim::I2cBusModel> bus = std::make_shared<sim::I2cBusModel>();
    std::shared_ptr<sim::RecordingI2cTarget> chip = std::make_shared<sim::RecordingI2cTarget>();
};

} // namespace

TEST_F(I2COnBoard, ReadIsOneTransactionWithARepeatedStart)
{
    I2C i2c;
    ASSERT_GT(i2c.open(kBus, kAddress), 0);
    chip->queueReply({0x04});
    const uint8_t command = 0x53;
    uint8_t state = 0;
    EXPECT_EQ(0, i2c.read(&command, 1, &state, 1));
    EXPECT_EQ(0x04, state);

    const auto transactions = chip->transactions();
    ASSERT_EQ(1u, transactions.size());
    ASSERT_EQ(2u, transactions[0].size());
    EXPECT_EQ(kAddress, transactions[0][0].address);
    EXPECT_EQ(0, transactions[0][0].flags);
    EXPECT_EQ(std::vector<uint8_t>{0x53}, transactions[0][0].data);
    EXPECT_EQ(kAddress, transactions[0][1].address);
    EXPECT_EQ(I2C_M_RD, transactions[0][1].flags);
    EXPECT_EQ(1, transactions[0][1].length);
}

TEST_F(I2COnBoard, WriteTakesOneTo63Bytes)
{
    I2C i2c;
    ASSERT_GT(i2c.open(kBus, kAddress), 0);
    std::vector<uint8_t> bytes(64, 0x5A);
    bytes[0] = 0x10;
    EXPECT_EQ(0, i2c.write(bytes.data(), 63));
    const auto transactions = chip->transactions();
    ASSERT_EQ(1u, transactions.size());
    ASSERT_EQ(1u, transactions[0].size());
    EXPECT_EQ(63, transactions[0][0].length);
    EXPECT_EQ(0x10, transactions[0][0].data[0]);
    EXPECT_DEATH(i2c.write(bytes.data(), 64), "buf && count > 0 && count < 64");
    EXPECT_DEATH(i2c.write(bytes.data(), 0), "buf && count > 0 && count < 64");
    EXPECT_DEATH(i2c.read(nullptr, 1, bytes.data(), 1), "txBuf && rxBuf");
}

TEST_F(I2COnBoard, ACommandCarriesUpTo63DataBytes)
{
    I2C i2c;
    ASSERT_GT(i2c.open(kBus, kAddress), 0);
    std::vector<uint8_t> data(63, 0x5A);
    EXPECT_EQ(0, i2c.writeCommand(0x54, data.data(), 63));
    const auto transactions = chip->transactions();
    ASSERT_EQ(1u, transactions.size());
    ASSERT_EQ(1u, transactions[0].size());
    ASSERT_EQ(64, transactions[0][0].length);
    EXPECT_EQ(0x54, transactions[0][0].data[0]);
    EXPECT_EQ(0x5A, transactions[0][0].data[63]);
    data.push_back(0);
    EXPECT_DEATH(i2c.writeCommand(0x54, data.data(), 64), "data && count > 0 && count < 64");
    i2c.close();
    EXPECT_EQ(-EBADF, i2c.writeCommand(0x54, data.data(), 1));
}

TEST_F(I2COnBoard, FailuresReturnTheNegativeErrno)
{
    I2C absent;
    ASSERT_GT(absent.open(kBus, 0x22), 0);
    const uint8_t bytes[2] = {0x52, 0x04};
    uint8_t reply = 0;
    EXPECT_EQ(-ENXIO, absent.write(bytes, 2));
    EXPECT_EQ(-ENXIO, absent.read(bytes, 1, &reply, 1));
    I2C present;
    ASSERT_GT(present.open(kBus, kAddress), 0);
    board.faults().failNext(kBus, sim::IoOp::Ioctl, 1, EREMOTEIO);
    EXPECT_EQ(-EREMOTEIO, present.write(bytes, 2));
    EXPECT_EQ(0, present.write(bytes, 2));
    I2C closed;
    EXPECT_EQ(-EBADF, closed.write(bytes, 2));
}

TEST_F(I2COnBoard, ObjectsOnOneNodeShareItsDescriptor)
{
    I2C first;
    I2C second;
    const int fd = first.open(kBus, kAddress);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(fd, second.open(kBus, 0x22));
    EXPECT_EQ(1, board.openFiles(kBus));
    EXPECT_EQ(0, first.close());
    EXPECT_FALSE(first.isOpen());
    EXPECT_EQ(1, board.openFiles(kBus));
    {
        I2C third;
        EXPECT_EQ(fd, third.open(kBus, kAddress));
    } // the destructor gives its reference back
    EXPECT_EQ(1, board.openFiles(kBus));
    second.close();
    EXPECT_EQ(0, board.openFiles(kBus));
}

TEST_F(I2COnBoard, OpeningAgainLetsGoOfThePreviousReference)
{
    I2C i2c;
    ASSERT_GT(i2c.open(kBus, kAddress), 0);
    ASSERT_GT(i2c.open(kBus, kAddress), 0);
    i2c.close();
    EXPECT_EQ(0, board.openFiles(kBus));
    EXPECT_EQ(-1, i2c.open("/dev/i2c-9", kAddress));
    EXPECT_FALSE(i2c.isOpen());
}

TEST_F(I2COnBoard, OpenAndCloseFromManyThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 100; ++i) {
                I2C i2c;
                if (i2c.open(kBus, kAddress) <= 0)
                    ADD_FAILURE() << "open failed";
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, board.openFiles(kBus));
}

namespace {

// Answers the convention of the test below: a command byte c is written
// alone or with c repeated (c % 8) + 1 times; a read after command c gets
// (c & 1 ? 16 : 1) bytes of c ^ 0xFF. Anything else is a transaction that
// mixed two callers' messages, and is counted.
class ConventionTarget : public sim::I2cTarget
{
public:
    static size_t writeLength(uint8_t command) { return command % 8 + 2; }
    static uint16_t readLength(uint8_t command) { return command & 1 ? 16 : 1; }

    int transfer(i2c_msg* messages, size_t count) override
    {
        if (count == 1 && !(messages[0].flags & I2C_M_RD)) {
            const uint8_t* bytes = messages[0].buf;
            bool whole = messages[0].len == writeLength(bytes[0]);
            for (size_t i = 1; whole && i < messages[0].len; ++i)
                whole = bytes[i] == bytes[0];
            m_mixed += !whole;
            return 0;
        }
        if (count == 2 && messages[0].len == 1 && (messages[1].flags & I2C_M_RD) &&
            messages[1].len == readLength(messages[0].buf[0])) {
            memset(messages[1].buf, messages[0].buf[0] ^ 0xFF, messages[1].len);
            return 0;
        }
        ++m_mixed;
        return -EREMOTEIO;
    }

    int mixed() const { return m_mixed.load(); }

private:
    std::atomic<int> m_mixed{0};
};

} // namespace

TEST_F(I2COnBoard, TransactionsFromManyThreadsStayWhole)
{
    // Status queries and commands reach one device from several threads at
    // once (the print thread switching the light, pages reading versions).
    auto target = std::make_shared<ConventionTarget>();
    bus->attachTarget(0x2A, target);
    I2C i2c;
    ASSERT_GT(i2c.open(kBus, 0x2A), 0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3000; ++i) {
                if (t % 2 == 0) {
                    const uint8_t command = static_cast<uint8_t>(0x10 + t + (i & 1));
                    // The reply is followed by a guard a longer reply would overwrite.
                    struct
                    {
                        uint8_t reply[16];
                        uint8_t guard[32];
                    } in;
                    memset(&in, 0xEE, sizeof in);
                    const uint16_t length = ConventionTarget::readLength(command);
                    const int rc = i2c.read(&command, 1, in.reply, length);
                    bool ok = rc == 0;
                    for (uint16_t b = 0; ok && b < length; ++b)
                        ok = in.reply[b] == (command ^ 0xFF);
                    for (size_t b = length; ok && b < sizeof in.reply; ++b)
                        ok = in.reply[b] == 0xEE;
                    for (uint8_t g : in.guard)
                        ok = ok && g == 0xEE;
                    wrong += !ok;
                } else {
                    const uint8_t command = static_cast<uint8_t>(0x40 + 8 * t + i % 8);
                    const std::vector<uint8_t> data(ConventionTarget::writeLength(command) - 1, command);
                    wrong += i2c.writeCommand(command, data.data(), static_cast<int>(data.size())) != 0;
                }
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(0, target->mixed());
}
