#include "base/config/ConfigStore.h"
#include "base/platform/Platform.h"
#include "base/threads/PThread.h"
#include "board/GpioModel.h"
#include "board/SimBoard.h"
#include "engine/devices/Buzzer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using testsupport::monotonicMs;

namespace {

constexpr unsigned int kLine = 5;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Records the buzzer line's changes with their real times.
class BuzzerTest : public ::testing::Test
{
protected:
    BuzzerTest()
    {
        board.attach(sim::GpioModel::kPath, gpio);
        listener = gpio->addListener([this](unsigned int line, int level) {
            if (line != kLine)
                return;
            std::lock_guard<std::mutex> lock(mutex);
            changes.push_back({level, monotonicMs()});
        });
    }
    ~BuzzerTest() override { gpio->removeListener(listener); }

    // Waits until the line's fall is recorded: the model sets the level
    // before it tells its listeners.
    bool waitForRecordedFall(int timeoutMs)
    {
        return testsupport::eventually(
            [this] {
                std::lock_guard<std::mutex> lock(mutex);
                return !changes.empty() && changes.back().level == 0;
            },
            timeoutMs);
    }

    struct Change
    {
        int level;
        long long atMs;
    };
    // The pulses since the last call: lengths of each 1 followed by a 0.
    std::vector<long long> pulses()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<long long> lengths;
        long long rise = -1;
        for (const Change& change : changes) {
            if (change.level == 1 && rise < 0)
                rise = change.atMs;
            else if (change.level == 0 && rise >= 0) {
                lengths.push_back(change.atMs - rise);
                rise = -1;
            }
        }
        changes.clear();
        return lengths;
    }

    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<sim::GpioModel> gpio = std::make_shared<sim::GpioModel>();
    std::mutex mutex;
    std::vector<Change> changes;
    int listener = 0;
};

} // namespace

TEST_F(BuzzerTest, FixedBeepsLastTheirLength)
{
    Buzzer buzzer(kLine);
    EXPECT_TRUE(gpio->isOutput(kLine));
    pulses();
    struct Case
    {
        void (Buzzer::*beep)();
        int ms;
    };
    for (const Case& c : {Case{&Buzzer::beepShort, 99}, Case{&Buzzer::beepMedium, 150}, Case{&Buzzer::beepLong, 500}}) {
        SCOPED_TRACE(c.ms);
        (buzzer.*c.beep)();
        EXPECT_EQ(1, gpio->level(kLine));
        ASSERT_TRUE(waitForRecordedFall(10000));
        const auto lengths = pulses();
        ASSERT_EQ(1u, lengths.size());
        EXPECT_GE(lengths[0], c.ms - 1);
        EXPECT_LT(lengths[0], c.ms + 1000); // ends, if late on a loaded machine
    }
}

TEST_F(BuzzerTest, KeyClicksFollowTheKeyToneSetting)
{
    Buzzer buzzer(kLine);
    pulses();
    ConfigStore::instance()->m_general.KeyToneFlag = false;
    buzzer.beep(220);
    EXPECT_EQ(0, gpio->level(kLine));
    ConfigStore::instance()->m_general.KeyToneFlag = true;
    // A long beep, then a click while it sounds: re-armed, the one pulse ends
    // 220 ms after the click, long before the first beep would have.
    buzzer.beep(5000);
    const long long first = monotonicMs();
    sleepMs(50);
    const long long click = monotonicMs();
    buzzer.beep(220);
    ASSERT_TRUE(waitForRecordedFall(4500));
    const auto lengths = pulses();
    ASSERT_EQ(1u, lengths.size());
    EXPECT_GE(lengths[0], click - first + 220 - 1);
    EXPECT_LT(lengths[0], 5000);
}

TEST_F(BuzzerTest, TheLineIsNeverLeftOn)
{
    ConfigStore::instance()->m_general.KeyToneFlag = true;
    {
        Buzzer buzzer(kLine);
        buzzer.beep(0);
        buzzer.beep(-5);
        EXPECT_EQ(0, gpio->level(kLine));
        // The shortest beeps, many times over: each one ends.
        for (int i = 0; i < 50; ++i)
            buzzer.beep(1);
        EXPECT_TRUE(testsupport::eventually([&] { return gpio->level(kLine) == 0; }, 5000));
        // Gone in the middle of a beep: the line goes off with it.
        buzzer.beepLong();
        EXPECT_EQ(1, gpio->level(kLine));
    }
    EXPECT_EQ(0, gpio->level(kLine));
    EXPECT_FALSE(gpio->isExported(kLine));
}

TEST_F(BuzzerTest, ItsEndDoesNotShortenOtherSleeps)
{
    Buzzer buzzer(kLine);
    const long long start = monotonicMs();
    buzzer.beepShort();
    PThread::msleep(250);
    EXPECT_GE(monotonicMs() - start, 250);
}
