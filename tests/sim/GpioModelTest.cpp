#include "base/platform/Platform.h"
#include "board/GpioModel.h"
#include "board/SimBoard.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using testsupport::monotonicMs;

namespace {

class GpioModelTest : public ::testing::Test
{
protected:
    GpioModelTest() { board.attach(sim::GpioModel::kPath, gpio); }

    void write(const std::string& path, const std::string& text, int expected = 0)
    {
        const int fd = io.open(path.c_str(), O_WRONLY);
        ASSERT_GT(fd, 0) << path;
        const ssize_t n = io.write(fd, text.data(), text.size());
        const int error = errno;
        io.close(fd);
        if (expected == 0)
            EXPECT_EQ(static_cast<ssize_t>(text.size()), n) << path << " " << text;
        else
            EXPECT_TRUE(n == -1 && error == expected) << path << " " << text << ": " << n << " " << error;
    }

    std::string readFrom(int fd)
    {
        char text[16] = {};
        io.lseek(fd, 0, SEEK_SET);
        const ssize_t n = io.read(fd, text, sizeof text - 1);
        return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
    }

    int watch(int line, const std::string& edge)
    {
        const std::string dir = "/sys/class/gpio/gpio" + std::to_string(line);
        write("/sys/class/gpio/export", std::to_string(line) + "\n");
        write(dir + "/direction", "in");
        write(dir + "/edge", edge);
        return io.open((dir + "/value").c_str(), O_RDONLY | O_NONBLOCK);
    }

    short priorityNow(int fd)
    {
        pollfd entry{fd, POLLPRI, 0};
        return io.poll(&entry, 1, 0) == 1 ? entry.revents : 0;
    }

    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<sim::GpioModel> gpio = std::make_shared<sim::GpioModel>();
    SysIo& io = platform().io();
};

} // namespace

TEST_F(GpioModelTest, AFreshValueFileReportsAnEventUntilItIsRead)
{
    const int fd = watch(4, "both");
    ASSERT_GT(fd, 0);
    EXPECT_EQ(POLLPRI | POLLERR, priorityNow(fd));
    EXPECT_EQ("0\n", readFrom(fd));
    EXPECT_EQ(0, priorityNow(fd));
    io.close(fd);
}

TEST_F(GpioModelTest, OnlyTheConfiguredEdgeIsReported)
{
    const int rising = watch(10, "rising");
    const int falling = watch(11, "falling");
    const int none = watch(12, "none");
    for (int fd : {rising, falling, none})
        readFrom(fd);
    for (int line : {10, 11, 12})
        gpio->drive(line, 1);
    EXPECT_TRUE(priorityNow(rising) & POLLPRI);
    EXPECT_FALSE(priorityNow(falling) & POLLPRI);
    EXPECT_FALSE(priorityNow(none) & POLLPRI);
    for (int fd : {rising, falling, none})
        readFrom(fd);
    for (int line : {10, 11, 12})
        gpio->drive(line, 0);
    EXPECT_FALSE(priorityNow(rising) & POLLPRI);
    EXPECT_TRUE(priorityNow(falling) & POLLPRI);
    EXPECT_FALSE(priorityNow(none) & POLLPRI);
    gpio->drive(10, 0); // no change, no edge
    EXPECT_FALSE(priorityNow(rising) & POLLPRI);
    for (int fd : {rising, falling, none})
        io.close(fd);
}

TEST_F(GpioModelTest, APollMixingLinesAndPipesWakesOnWhicheverComesFirst)
{
    int pipeFds[2];
    ASSERT_EQ(0, pipe(pipeFds));
    const int limit = watch(8, "both");
    const int key = watch(4, "both");
    readFrom(limit);
    readFrom(key);

    std::atomic<long long> changedAt{0};
    std::atomic<bool> pipeRead{false};
    std::thread outside([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        changedAt = monotonicMs();
        ASSERT_EQ(1, ::write(pipeFds[1], "x", 1));
        // The line changes only once the first wake is dealt with.
        ASSERT_TRUE(testsupport::eventually([&] { return pipeRead.load(); }, 60000));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        changedAt = monotonicMs();
        gpio->drive(4, 1);
    });
    // Each change wakes the poll long before its time-out, however busy the host.
    pollfd set[3] = {{limit, POLLPRI, 0}, {pipeFds[0], POLLIN, 0}, {key, POLLPRI, 0}};
    ASSERT_EQ(1, io.poll(set, 3, 60000));
    EXPECT_LT(monotonicMs() - changedAt, 10000);
    EXPECT_TRUE(set[1].revents & POLLIN);
    EXPECT_EQ(0, set[0].revents | set[2].revents);
    char c;
    ASSERT_EQ(1, ::read(pipeFds[0], &c, 1));
    pipeRead = true;

    ASSERT_EQ(1, io.poll(set, 3, 60000));
    EXPECT_LT(monotonicMs() - changedAt, 10000);
    EXPECT_TRUE(set[2].revents & POLLPRI);
    EXPECT_EQ(0, set[0].revents | set[1].revents);
    outside.join();
    EXPECT_EQ("1\n", readFrom(key));

    const long long start = monotonicMs();
    EXPECT_EQ(0, io.poll(set, 3, 40));
    EXPECT_GE(monotonicMs() - start, 35);
    for (int fd : {limit, key, pipeFds[0], pipeFds[1]})
        io.close(fd);
}

TEST_F(GpioModelTest, EveryWatcherOfALineWakes)
{
    const int first = watch(8, "both");
    const int second = io.open("/sys/class/gpio/gpio8/value", O_RDONLY | O_NONBLOCK);
    readFrom(first);
    readFrom(second);
    std::atomic<int> woken{0};
    std::vector<std::thread> watchers;
    for (int fd : {first, second})
        watchers.emplace_back([&, fd] {
            pollfd entry{fd, POLLPRI, 0};
            if (io.poll(&entry, 1, 5000) == 1 && (entry.revents & POLLPRI))
                ++woken;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    gpio->drive(8, 1);
    for (auto& watcher : watchers)
        watcher.join();
    EXPECT_EQ(2, woken.load());
    io.close(first);
    io.close(second);
}

TEST_F(GpioModelTest, AttributesFollowTheKernelsRules)
{
    write("/sys/class/gpio/export", "abc", EINVAL);
    write("/sys/class/gpio/export", "30");
    write("/sys/class/gpio/export", "30", EBUSY);
    write("/sys/class/gpio/unexport", "31", EINVAL);
    write("/sys/class/gpio/gpio30/direction", "sideways", EINVAL);
    write("/sys/class/gpio/gpio30/value", "1", EPERM);
    write("/sys/class/gpio/gpio30/direction", "high");
    EXPECT_TRUE(gpio->isOutput(30));
    EXPECT_EQ(1, gpio->level(30));
    write("/sys/class/gpio/gpio30/edge", "both", EIO);
    write("/sys/class/gpio/gpio30/direction", "out");
    EXPECT_EQ(0, gpio->level(30));
    write("/sys/class/gpio/gpio30/value", "5\n");
    EXPECT_EQ(1, gpio->level(30));
    EXPECT_EQ(0, io.access("/sys/class/gpio/gpio30/edge", F_OK));
    EXPECT_EQ(-1, io.access("/sys/class/gpio/gpio31", F_OK));
    EXPECT_EQ(-1, io.access("/sys/class/gpio/gpio030", F_OK));
    EXPECT_EQ(0, io.access("/sys/class/gpio", F_OK));
}

TEST_F(GpioModelTest, UnexportLeavesOpenFilesStale)
{
    const int fd = watch(203, "both");
    write("/sys/class/gpio/unexport", "203");
    char c;
    EXPECT_EQ(-1, io.read(fd, &c, 1));
    EXPECT_EQ(ENODEV, errno);
    EXPECT_EQ("none", gpio->edge(203));
    write("/sys/class/gpio/export", "203");
    EXPECT_EQ(-1, io.read(fd, &c, 1)); // a new export is not the old one
    io.close(fd);
}

TEST_F(GpioModelTest, ListenersHearEveryLevelChange)
{
    std::vector<std::pair<unsigned int, int>> heard;
    const int id = gpio->addListener([&](unsigned int line, int level) { heard.emplace_back(line, level); });
    write("/sys/class/gpio/export", "30");
    write("/sys/class/gpio/gpio30/direction", "out");
    write("/sys/class/gpio/gpio30/value", "1");
    gpio->drive(8, 1);
    gpio->drive(8, 1);
    gpio->removeListener(id);
    gpio->drive(8, 0);
    EXPECT_EQ((std::vector<std::pair<unsigned int, int>>{{30, 1}, {8, 1}}), heard);
}

TEST_F(GpioModelTest, ALineSourceIsAskedAtEachLookAndAtAPollsTimeOut)
{
    // Works the line out from the time, as the axis does its switch from
    // machine time, and drives it only when asked.
    std::atomic<long long> closesAt{LLONG_MAX};
    gpio->setLineSource(8, [&] {
        if (monotonicMs() >= closesAt)
            gpio->drive(8, 0);
    });
    gpio->drive(8, 1);
    const int fd = watch(8, "falling");
    EXPECT_EQ("1\n", readFrom(fd));
    closesAt = monotonicMs() + 50;
    // Nothing wakes the wait: at its time-out the line is asked once more.
    pollfd entry{fd, POLLPRI, 0};
    EXPECT_EQ(1, io.poll(&entry, 1, 300));
    EXPECT_TRUE(entry.revents & POLLPRI);
    EXPECT_EQ("0\n", readFrom(fd));
    gpio->setLineSource(8, nullptr);
    io.close(fd);
}
