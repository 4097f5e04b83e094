#include "base/platform/Platform.h"
#include "board/SimBoard.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A device with a register the caller reads and writes, an ioctl that
// doubles a number, and memory that can be mapped.
class ScratchDevice : public sim::DeviceModel
{
public:
    std::string name;
    std::vector<uint8_t> memory = std::vector<uint8_t>(4096, 0);
    int unmaps = 0;

    explicit ScratchDevice(std::string n = "scratch") : name(std::move(n)) {}

    int open(const std::string&, int, std::shared_ptr<sim::OpenFile>& file) override
    {
        file = std::make_shared<File>(this);
        return 0;
    }

private:
    class File : public sim::OpenFile
    {
    public:
        explicit File(ScratchDevice* device) : m_device(device) {}
        ssize_t read(void* buffer, size_t count) override
        {
            const size_t n = std::min(count, m_device->name.size());
            memcpy(buffer, m_device->name.data(), n);
            return static_cast<ssize_t>(n);
        }
        ssize_t write(const void*, size_t count) override { return static_cast<ssize_t>(count); }
        int ioctl(unsigned long request, void* arg) override
        {
            if (request != 0x1234)
                return -ENOTTY;
            *static_cast<int*>(arg) *= 2;
            return 0;
        }
        int mmap(size_t length, int, int, off_t offset, void** address) override
        {
            if (offset != 0 || length > m_device->memory.size())
                return -EINVAL;
            *address = m_device->memory.data();
            return 0;
        }
        int munmap(void*, size_t) override
        {
            ++m_device->unmaps;
            return 0;
        }

    private:
        ScratchDevice* m_device;
    };
};

class Board : public ::testing::Test
{
protected:
    Board() { board.attach("/dev/scratch0", device); }

    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<ScratchDevice> device = std::make_shared<ScratchDevice>();
    SysIo& io = platform().io();
};

} // namespace

TEST_F(Board, ModelFilesGetRealDescriptorsAndAnswerForTheDevice)
{
    const int fd = io.open("/dev/scratch0", O_RDWR);
    ASSERT_GT(fd, 2);
    EXPECT_NE(-1, fcntl(fd, F_GETFD)); // a live kernel descriptor: no real file can take its number
    char text[16] = {};
    EXPECT_EQ(7, io.read(fd, text, sizeof text));
    EXPECT_STREQ("scratch", text);
    int number = 21;
    EXPECT_EQ(0, io.ioctl(fd, 0x1234, &number));
    EXPECT_EQ(42, number);
    EXPECT_EQ(-1, io.ioctl(fd, 0x9999, &number));
    EXPECT_EQ(ENOTTY, errno);
    EXPECT_EQ(-1, io.lseek(fd, 0, SEEK_SET));
    EXPECT_EQ(ESPIPE, errno);
    EXPECT_EQ(0, io.close(fd));
    EXPECT_EQ(-1, io.read(fd, text, 1));
    EXPECT_EQ(EBADF, errno);
}

TEST_F(Board, OtherPathsGoToLibcUnchanged)
{
    const std::string path = testsupport::scratchRoot() + "/plain.txt";
    const int fd = io.open(path.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(5, io.write(fd, "hello", 5));
    EXPECT_EQ(0, io.lseek(fd, 0, SEEK_SET));
    char text[8] = {};
    EXPECT_EQ(5, io.read(fd, text, sizeof text));
    EXPECT_EQ(0, io.close(fd));
    EXPECT_EQ("hello", testsupport::readFile(path));
    EXPECT_EQ(0, io.access(path.c_str(), F_OK));
    EXPECT_TRUE(board.traffic().entries().empty());
}

TEST_F(Board, TheLongestAttachedPathAnswers)
{
    auto folder = std::make_shared<ScratchDevice>("folder");
    auto leaf = std::make_shared<ScratchDevice>("leaf");
    board.attach("/sys/class/thing", folder);
    board.attach("/sys/class/thing/one/leaf", leaf);
    char text[16] = {};
    const int a = io.open("/sys/class/thing/two", O_RDONLY);
    const int b = io.open("/sys/class/thing/one/leaf", O_RDONLY);
    EXPECT_EQ(6, io.read(a, text, sizeof text));
    EXPECT_EQ(4, io.read(b, text, sizeof text));
    EXPECT_EQ(2, board.openFiles("/sys/class/thing/"));
    io.close(a);
    io.close(b);
    // A path that only starts with the same letters is not below the folder.
    const int c = io.open("/sys/class/thingy", O_RDONLY);
    EXPECT_EQ(-1, c);
    board.detach("/sys/class/thing/one/leaf");
    const int d = io.open("/sys/class/thing/one/leaf", O_RDONLY);
    EXPECT_EQ(6, io.read(d, text, sizeof text));
    io.close(d);
}

TEST_F(Board, TheTrafficLogRecordsEachCall)
{
    const int fd = io.open("/dev/scratch0", O_RDWR);
    io.write(fd, "\x01\x02", 2);
    char text[16];
    io.read(fd, text, 3);
    int number = 1;
    io.ioctl(fd, 0x1234, &number);
    io.close(fd);

    const auto entries = board.traffic().entries("/dev/scratch0");
    ASSERT_EQ(5u, entries.size());
    const char* operations[] = {"open", "write", "read", "ioctl", "close"};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(operations[i], entries[i].operation);
        if (i > 0) {
            EXPECT_GE(entries[i].timeNs, entries[i - 1].timeNs);
        }
    }
    EXPECT_EQ(fd, entries[0].result);
    EXPECT_EQ((std::vector<uint8_t>{1, 2}), entries[1].bytes);
    EXPECT_EQ(std::vector<uint8_t>({'s', 'c', 'r'}), entries[2].bytes);
    EXPECT_EQ(0x1234u, entries[3].request);

    board.traffic().setLimit(2);
    EXPECT_EQ(2u, board.traffic().entries().size());
    EXPECT_EQ("close", board.traffic().entries().back().operation);
}

TEST_F(Board, PlannedFaultsFailTheNextCallsThenStop)
{
    board.faults().failNext("/dev/scratch0", sim::IoOp::Open, 1, EACCES);
    EXPECT_EQ(-1, io.open("/dev/scratch0", O_RDWR));
    EXPECT_EQ(EACCES, errno);
    const int fd = io.open("/dev/scratch0", O_RDWR);
    ASSERT_GT(fd, 0);

    board.faults().failNext("/dev/scratch0", sim::IoOp::Read, 2, EIO);
    board.faults().failNext("/dev/scratch0", sim::IoOp::Ioctl, 1, ETIMEDOUT, 0x1234);
    char text[4];
    EXPECT_EQ(2, board.faults().pending("/dev/scratch0", sim::IoOp::Read));
    EXPECT_EQ(-1, io.read(fd, text, 4));
    EXPECT_EQ(EIO, errno);
    EXPECT_EQ(-1, io.read(fd, text, 4));
    EXPECT_EQ(4, io.read(fd, text, 4));
    int number = 1;
    EXPECT_EQ(-1, io.ioctl(fd, 0x9999, &number));
    EXPECT_EQ(ENOTTY, errno); // another request is not the planned one
    EXPECT_EQ(-1, io.ioctl(fd, 0x1234, &number));
    EXPECT_EQ(ETIMEDOUT, errno);
    EXPECT_EQ(1, number);
    EXPECT_EQ(0, io.ioctl(fd, 0x1234, &number));
    io.close(fd);
    EXPECT_EQ(-EIO, board.traffic().entries("/dev/scratch0", "read").front().result);
}

TEST_F(Board, AccessModesAreEnforced)
{
    const int fd = io.open("/dev/scratch0", O_RDONLY);
    EXPECT_EQ(-1, io.write(fd, "x", 1));
    EXPECT_EQ(EBADF, errno);
    io.close(fd);
    const int wfd = io.open("/dev/scratch0", O_WRONLY);
    char c;
    EXPECT_EQ(-1, io.read(wfd, &c, 1));
    EXPECT_EQ(EBADF, errno);
    io.close(wfd);
}

TEST_F(Board, MappingsBelongToTheModel)
{
    const int fd = io.open("/dev/scratch0", O_RDWR);
    void* memory = io.mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_EQ(device->memory.data(), memory);
    io.close(fd); // the mapping outlives the descriptor
    static_cast<uint8_t*>(memory)[10] = 0x5A;
    EXPECT_EQ(0x5A, device->memory[10]);
    EXPECT_EQ(0, io.munmap(memory, 4096));
    EXPECT_EQ(1, device->unmaps);
    const int again = io.open("/dev/scratch0", O_RDWR);
    EXPECT_EQ(MAP_FAILED, io.mmap(nullptr, 8192, PROT_READ, MAP_SHARED, again, 0));
    EXPECT_EQ(EINVAL, errno);
    io.close(again);
}

TEST(HostHardware, IsOffLimitsUnderAScratchRoot)
{
    SysIo libc; // the real seam: the base class
    for (const char* node : {"/dev/spidev0.0", "/dev/i2c-0", "/dev/fb0", "/dev/fb2"}) {
        EXPECT_EQ(-1, libc.open(node, O_RDWR)) << node;
        EXPECT_EQ(EPERM, errno) << node;
    }
    EXPECT_EQ(-1, libc.open("/sys/class/gpio/export", O_WRONLY));
    EXPECT_EQ(EPERM, errno);
    const int fd = libc.open("/dev/null", O_RDWR);
    EXPECT_GE(fd, 0);
    libc.close(fd);
}
