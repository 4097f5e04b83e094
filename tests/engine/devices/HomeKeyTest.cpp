#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "board/PrinterBoard.h"
#include "board/ScaledClock.h"
#include "engine/devices/HomeKey.h"
#include "engine/devices/KeyMonitor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using testsupport::eventually;
using testsupport::monotonicMs;

namespace {


// Machine time that moves only when the test says; waits still run in real time.
class ManualClock : public Clock
{
public:
    timespec now() const override { return nsToTimespec(m_ns.load()); }
    void advanceMs(int64_t ms) { m_ns += ms * 1000000; }

private:
    std::atomic<int64_t> m_ns{int64_t(1000) * 1000000000};
};

const char kValuePath[] = "/sys/class/gpio/gpio4/value";

class HomeKeyTest : public ::testing::Test
{
protected:
    HomeKeyTest()
    {
        QObject::connect(&key, &HomeKey::keyShortClicked, [this](int ms) { record('S', ms); });
        QObject::connect(&key, &HomeKey::keyLongClicked, [this](int ms) { record('L', ms); });
    }

    void record(char kind, int ms)
    {
        std::lock_guard<std::mutex> lock(mutex);
        clicks.emplace_back(kind, ms);
    }
    size_t clickCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return clicks.size();
    }
    std::vector<std::pair<char, int>> takeClicks()
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto taken = std::move(clicks);
        clicks.clear();
        return taken;
    }
    size_t valueReads() { return printer.board().traffic().entries(kValuePath, "read").size(); }

    // Drives the key and waits until the thread has read the line twice
    // (the edge, then its bounce check): the edge's time is taken by then.
    void setKey(bool pressed)
    {
        const size_t before = valueReads();
        printer.setHomeKeyPressed(pressed);
        ASSERT_TRUE(eventually([&] { return valueReads() >= before + 2; }));
    }
    void startKey()
    {
        ASSERT_EQ(0, key.start(true, HomeKey::kStackSize));
        // The fresh value file reports once; the thread reads it twice and finds no press.
        ASSERT_TRUE(eventually([&] { return valueReads() >= 2; }));
    }

    ManualClock clock;
    ScopedPlatform installedClock{&clock};
    sim::PrinterBoard printer;
    ScopedPlatform installed{&printer.board()};
    HomeKey key;
    std::mutex mutex;
    std::vector<std::pair<char, int>> clicks;
};

} // namespace

TEST_F(HomeKeyTest, PressLengthsAtTheBoundaries)
{
    startKey();
    const std::pair<int, std::vector<std::pair<char, int>>> cases[] = {
        {1000, {{'S', 1000}}}, {1001, {}}, {2499, {}}, {2500, {{'L', 2500}}}, {0, {{'S', 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        setKey(true);
        // The thread reads the line for this press only once it is done with
        // the last release: no click of that one comes late.
        EXPECT_TRUE(takeClicks().empty());
        clock.advanceMs(c.first);
        setKey(false);
        if (!c.second.empty()) {
            ASSERT_TRUE(eventually([&] { return clickCount() >= c.second.size(); }, 20000));
        }
        EXPECT_EQ(c.second, takeClicks());
    }
    // A release with no press before it is ignored.
    clock.advanceMs(500);
    printer.gpio().drive(sim::PrinterBoard::kHomeKeyLine, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(takeClicks().empty());
}

TEST_F(HomeKeyTest, DestroyedWhileWaitingStopsAtOnce)
{
    auto waiting = std::make_unique<HomeKey>();
    ASSERT_EQ(0, waiting->start(true, HomeKey::kStackSize));
    ASSERT_TRUE(eventually([&] { return printer.board().openFiles(kValuePath) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Its wait has no time-out: only the wake ends it, however busy the host.
    const long long start = monotonicMs();
    waiting.reset();
    EXPECT_LT(monotonicMs() - start, 10000);
    EXPECT_EQ(0, printer.board().openFiles(kValuePath));
    EXPECT_FALSE(printer.gpio().isExported(sim::PrinterBoard::kHomeKeyLine));
}

TEST(KeyMonitorTest, DoorKeysFromTheInputDevice)
{
    sim::PrinterBoard printer;
    ScopedPlatform installed(&printer.board());
    KeyMonitor monitor(sim::InputEventModel::kPath);
    ASSERT_EQ(0, monitor.start());
    ASSERT_TRUE(eventually([&] { return printer.board().openFiles(sim::InputEventModel::kPath) == 1; }));
    printer.keys().key(KEY_LEFT, 0);
    EXPECT_TRUE(eventually([&] { return monitor.firstDoorValue() == 0; }));
    printer.keys().key(KEY_LEFT, 2); // auto-repeat: ignored
    printer.keys().key(KEY_UP, 0);   // another key: ignored
    printer.keys().key(KEY_RIGHT, 0);
    EXPECT_TRUE(eventually([&] { return monitor.secondDoorValue() == 0; }));
    EXPECT_EQ(0, monitor.firstDoorValue());
    const long long start = monotonicMs();
    EXPECT_EQ(0, monitor.stop());
    EXPECT_LT(monotonicMs() - start, 10000);
    EXPECT_EQ(0, printer.board().openFiles(sim::InputEventModel::kPath));
}

TEST(KeyMonitorTest, WithoutADeviceNothingStarts)
{
    KeyMonitor monitor("");
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, monitor.start());
    EXPECT_EQ(0, monitor.stop());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("int KeyMonitor::start() :dev is NULL, disable Key func"));
    EXPECT_NE(std::string::npos, out.find("stop :dev is NULL"));

    sim::PrinterBoard printer;
    ScopedPlatform installed(&printer.board());
    KeyMonitor missing("/dev/input/event9");
    EXPECT_EQ(0, missing.start());
    EXPECT_EQ(0, missing.stop());
}

TEST(KeyMonitorTest, ALostDeviceEndsTheReader)
{
    sim::PrinterBoard printer;
    ScopedPlatform installed(&printer.board());
    KeyMonitor monitor(sim::InputEventModel::kPath);
    ASSERT_EQ(0, monitor.start());
    ASSERT_TRUE(eventually([&] { return printer.board().openFiles(sim::InputEventModel::kPath) == 1; }));
    // Unplugged, the device polls as an error for ever: the reader must not
    // spin on it but let it go.
    printer.keys().unplug();
    EXPECT_TRUE(eventually([&] { return printer.board().openFiles(sim::InputEventModel::kPath) == 0; }));
    EXPECT_EQ(0, monitor.stop());
}
