#include "base/buses/Gpio.h"
#include "base/buses/Pwm.h"
#include "base/platform/Platform.h"
#include "base/threads/StopSignal.h"
#include "board/GpioModel.h"
#include "board/SimBoard.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <thread>

using testsupport::monotonicMs;

namespace {

// A file that always reads as the same text.
class FixedTextModel : public sim::DeviceModel
{
public:
    explicit FixedTextModel(std::string text) : m_text(std::move(text)) {}

    int open(const std::string&, int, std::shared_ptr<sim::OpenFile>& file) override
    {
        file = std::make_shared<File>(m_text);
        return 0;
    }

private:
    class File : public sim::OpenFile
    {
    public:
        explicit File(std::string text) : m_text(std::move(text)) {}
        ssize_t read(void* buffer, size_t count) override
        {
            const size_t n = std::min(count, m_text.size());
            memcpy(buffer, m_text.data(), n);
            return static_cast<ssize_t>(n);
        }

    private:
        std::string m_text;
    };

    std::string m_text;
};

// A PWM class folder: channels appear on export and take any text.
class PwmFolderModel : public sim::DeviceModel
{
public:
    std::map<std::string, std::string> files; // path -> last text written
    std::set<std::string> folders{"/sys/class/pwm"};

    int access(const std::string& path, int) override
    {
        return folders.count(path) || files.count(path) ? 0 : -ENOENT;
    }
    int open(const std::string& path, int, std::shared_ptr<sim::OpenFile>& file) override
    {
        if (!files.count(path) && path != "/sys/class/pwm/export" && path != "/sys/class/pwm/unexport")
            return -ENOENT;
        file = std::make_shared<File>(this, path);
        return 0;
    }

private:
    class File : public sim::OpenFile
    {
    public:
        File(PwmFolderModel* model, std::string path) : m_model(model), m_path(std::move(path)) {}
        ssize_t write(const void* buffer, size_t count) override
        {
            const std::string text(static_cast<const char*>(buffer), count);
            const std::string channel = "/sys/class/pwm/pwm" + text;
            if (m_path == "/sys/class/pwm/export") {
                m_model->folders.insert(channel);
                for (const char* name : {"/enable", "/period", "/duty_cycle"})
                    m_model->files[channel + name] = "";
            } else if (m_path == "/sys/class/pwm/unexport") {
                m_model->folders.erase(channel);
            } else {
                m_model->files[m_path] = text;
            }
            return static_cast<ssize_t>(count);
        }

    private:
        PwmFolderModel* m_model;
        std::string m_path;
    };
};

class GpioOnBoard : public ::testing::Test
{
protected:
    GpioOnBoard() { board.attach(sim::GpioModel::kPath, gpio); }

    // Reads the value file from its start, as a watcher does after each event.
    static std::string reread(int fd)
    {
        char text[8] = {};
        platform().io().lseek(fd, 0, SEEK_SET);
        const ssize_t n = platform().io().read(fd, text, sizeof text - 1);
        return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
    }

    int watchLine(unsigned int line, const std::string& edge)
    {
        EXPECT_EQ(0, gpio_export(line));
        EXPECT_EQ(0, gpio_set_dir(line, "in"));
        EXPECT_EQ(0, gpio_set_edge(line, edge));
        const int fd = gpio_fd_open(line);
        EXPECT_GT(fd, 0);
        reread(fd);
        return fd;
    }

    size_t writesTo(const std::string& path) { return board.traffic().entries(path, "write").size(); }

    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<sim::GpioModel> gpio = std::make_shared<sim::GpioModel>();
};

} // namespace

TEST_F(GpioOnBoard, LineZeroIsNoLine)
{
    unsigned int value = 7;
    EXPECT_EQ(0, gpio_export(0));
    EXPECT_EQ(0, gpio_unexport(0));
    EXPECT_EQ(0, gpio_set_dir(0, "out"));
    EXPECT_EQ(0, gpio_set_value(0, 1));
    EXPECT_EQ(0, gpio_get_value(0, &value));
    EXPECT_EQ(0, gpio_set_edge(0, "both"));
    EXPECT_EQ(0, gpio_fd_open(0));
    EXPECT_EQ(7u, value);
    EXPECT_TRUE(board.traffic().entries().empty());
}

TEST_F(GpioOnBoard, BadArgumentsAreRefusedBeforeAnyFile)
{
    EXPECT_EQ(-EINVAL, gpio_set_value(5, 2));
    EXPECT_EQ(-EINVAL, gpio_set_dir(5, "input"));
    EXPECT_EQ(-EINVAL, gpio_set_edge(5, "none"));
    EXPECT_TRUE(board.traffic().entries().empty());
}

TEST_F(GpioOnBoard, ALineThatIsNotExportedReportsEexist)
{
    unsigned int value = 7;
    EXPECT_EQ(-EEXIST, gpio_set_dir(203, "in"));
    EXPECT_EQ(-EEXIST, gpio_set_value(203, 1));
    EXPECT_EQ(-EEXIST, gpio_get_value(203, &value));
    EXPECT_EQ(-EEXIST, gpio_set_edge(203, "both"));
    EXPECT_EQ(7u, value);
    EXPECT_LT(gpio_fd_open(203), 0);
}

TEST_F(GpioOnBoard, ExportAndUnexportOnlyWhenNeeded)
{
    EXPECT_EQ(0, gpio_export(203));
    EXPECT_TRUE(gpio->isExported(203));
    EXPECT_EQ(0, gpio_export(203));
    EXPECT_EQ(1u, writesTo("/sys/class/gpio/export"));
    EXPECT_EQ(0, gpio_unexport(203));
    EXPECT_FALSE(gpio->isExported(203));
    EXPECT_EQ(0, gpio_unexport(203));
    EXPECT_EQ(1u, writesTo("/sys/class/gpio/unexport"));
    EXPECT_EQ(-EINVAL, gpio_export(100000)); // the kernel has no such line
}

TEST_F(GpioOnBoard, UnexportReportsAFailedWrite)
{
    ASSERT_EQ(0, gpio_export(158));
    board.faults().failNext("/sys/class/gpio/unexport", sim::IoOp::Write, 1, EBUSY);
    EXPECT_EQ(-EBUSY, gpio_unexport(158));
    EXPECT_TRUE(gpio->isExported(158));
}

TEST_F(GpioOnBoard, OutputsDriveTheLineAndInputsFollowIt)
{
    unsigned int value = 7;
    ASSERT_EQ(0, gpio_export(30));
    ASSERT_EQ(0, gpio_set_dir(30, "out"));
    EXPECT_EQ(0, gpio_set_value(30, 1));
    EXPECT_EQ(1, gpio->level(30));
    EXPECT_EQ(0, gpio_get_value(30, &value));
    EXPECT_EQ(1u, value);

    ASSERT_EQ(0, gpio_export(8));
    ASSERT_EQ(0, gpio_set_dir(8, "in"));
    EXPECT_EQ(-EPERM, gpio_set_value(8, 1));
    gpio->drive(8, 1);
    EXPECT_EQ(0, gpio_get_value(8, &value));
    EXPECT_EQ(1u, value);
    gpio->drive(8, 0);
    EXPECT_EQ(0, gpio_get_value(8, &value));
    EXPECT_EQ(0u, value);
}

TEST_F(GpioOnBoard, ValueTextReadsAsZeroOrOne)
{
    board.attach("/sys/class/gpio/gpio9/value", std::make_shared<FixedTextModel>("7"));
    board.attach("/sys/class/gpio/gpio10/value", std::make_shared<FixedTextModel>(""));
    board.attach("/sys/class/gpio/gpio11/value", std::make_shared<FixedTextModel>("1\n"));
    unsigned int value = 0;
    EXPECT_EQ(0, gpio_get_value(9, &value));
    EXPECT_EQ(1u, value);
    value = 5;
    EXPECT_LT(gpio_get_value(10, &value), 0); // an empty read carries no level
    EXPECT_EQ(5u, value);
    EXPECT_EQ(0, gpio_get_value(11, &value));
    EXPECT_EQ(1u, value);
}

TEST_F(GpioOnBoard, AnEdgeWakesTheWatcher)
{
    const int fd = watchLine(4, "both");
    std::atomic<long long> edgeAt{0};
    std::thread key([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        edgeAt = monotonicMs();
        gpio->drive(4, 1);
    });
    EXPECT_EQ(1, gpio_wait_edge(fd, 60000));
    const long long latency = monotonicMs() - edgeAt;
    key.join();
    // Woken by the edge, long before the time-out, however busy the host.
    EXPECT_LT(latency, 10000);
    EXPECT_EQ("1\n", reread(fd));
    EXPECT_EQ(0, gpio_wait_edge(fd, 0)); // the read re-armed it
    platform().io().close(fd);
}

TEST_F(GpioOnBoard, AWaitForAnEdgeTimesOutOrIsWoken)
{
    const int fd = watchLine(8, "falling");
    const long long start = monotonicMs();
    EXPECT_EQ(0, gpio_wait_edge(fd, 60));
    EXPECT_GE(monotonicMs() - start, 55);

    StopSignal stop;
    std::atomic<long long> stopAt{0};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        stopAt = monotonicMs();
        stop.raise();
    });
    EXPECT_EQ(-ECANCELED, gpio_wait_edge(fd, -1, stop.fd()));
    EXPECT_LT(monotonicMs() - stopAt, 10000);
    stopper.join();
    // A stop stays in force until cleared, even when an edge comes with it.
    gpio->drive(8, 1);
    gpio->drive(8, 0);
    EXPECT_EQ(-ECANCELED, gpio_wait_edge(fd, 1000, stop.fd()));
    stop.clear();
    EXPECT_EQ(1, gpio_wait_edge(fd, 1000, stop.fd()));
    platform().io().close(fd);
}

TEST(Pwm, ChannelsThroughTheClassFolder)
{
    sim::SimBoard board;
    ScopedPlatform installed(&board);
    auto pwm = std::make_shared<PwmFolderModel>();
    board.attach("/sys/class/pwm", pwm);

    EXPECT_EQ(-EEXIST, pwm_set_period(0, 1000));
    EXPECT_EQ(0, pwm_export(0)); // channel 0 is a real channel
    EXPECT_EQ(1u, pwm->folders.count("/sys/class/pwm/pwm0"));
    EXPECT_EQ(0, pwm_export(0));
    EXPECT_EQ(1u, board.traffic().entries("/sys/class/pwm/export", "write").size());
    EXPECT_EQ(0, pwm_set_period(0, 1000000));
    EXPECT_EQ(0, pwm_set_duty_cycle(0, 250000));
    EXPECT_EQ(-EINVAL, pwm_enable(0, 2));
    EXPECT_EQ(0, pwm_enable(0, 1));
    EXPECT_EQ("1000000", pwm->files["/sys/class/pwm/pwm0/period"]);
    EXPECT_EQ("250000", pwm->files["/sys/class/pwm/pwm0/duty_cycle"]);
    EXPECT_EQ("1", pwm->files["/sys/class/pwm/pwm0/enable"]);
    EXPECT_EQ(0, pwm_unexport(0));
    EXPECT_EQ(0, pwm_unexport(0));
    EXPECT_EQ(1u, board.traffic().entries("/sys/class/pwm/unexport", "write").size());
}
