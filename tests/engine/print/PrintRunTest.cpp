// Whole prints on the simulated machine: what the plate, the light and the
// panel do, layer by layer.
#include "engine/print/PrinterHarness.h"

#include "base/config/ConfigStore.h"
#include "engine/print/PrintThread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

using harness::kHeight;
using harness::kWidth;
using harness::LightRecorder;

namespace {

// The light-on, light-off and move lines of the log, in order.
std::vector<std::string> motionAndLight()
{
    std::vector<std::string> lines;
    for (const auto& line : harness::logLines("]")) {
        for (const char* key : {"Move(", "UVLight Is Opened", "UVLight Is Closed", "Printer Start Homing"}) {
            const size_t at = line.find(key);
            if (at != std::string::npos) {
                lines.push_back(line.substr(at));
                break;
            }
        }
    }
    return lines;
}

} // namespace

TEST(PrintRun, OneLayerHomesLiftsExposesAndFinishes)
{
    Printer* printer = harness::startPrinter();
    LightRecorder recorder;
    const std::string path = harness::writeSvgx("one", 1, 0, 0, 4, 3);
    ASSERT_EQ(0, printer->print(QString::fromStdString(path)));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_STREQ("0", printer->getPrintExitValue());
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());

    // Home, first move up by one layer, expose, release, lift, then park.
    const std::vector<std::string> expected = {
        "Printer Start Homing ...",
        "Move(0.050000mm), relative(Y), wait(Y)",
        "UVLight Is Opened",
        "UVLight Is Closed, Status: 1",
        "Move(6.000000mm), relative(Y), wait(Y)",
    };
    std::vector<std::string> seen;
    for (const auto& line : motionAndLight())
        if (line.rfind("UVLight Is Closed", 0) != 0 || !seen.empty()) // the switch-offs before the print do not count
            seen.push_back(line);
    ASSERT_EQ(seen.size(), expected.size() + 3);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], seen[i]) << i;
    // The end: the light off again, the motor settled where it stands, and
    // the finish lift, not waited for.
    EXPECT_EQ("UVLight Is Closed, Status: 1", seen[expected.size()]);
    EXPECT_NE(std::string::npos, seen[expected.size() + 1].find("relative(N), wait(Y)"));
    EXPECT_EQ("Move(10.000000mm), relative(Y), wait(N)", seen.back());

    const auto exposures = harness::machine().board().display().exposures();
    ASSERT_EQ(1u, exposures.size());
    EXPECT_GE(exposures[0].durationMs(), 3000);
    EXPECT_LT(exposures[0].durationMs(), 3000 + 1000);
    const auto events = recorder.events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(4 * 4, events[0].litPixels); // a 2 mm square on 2 pixels per mm

    // The log tells only what happened: no light failure at the start (the
    // projector was off), no image asked for after the last layer.
    EXPECT_TRUE(harness::logLines("00020001").empty());
    EXPECT_TRUE(harness::logLines("setNextLayerData failed").empty());
    EXPECT_EQ(1u, harness::logLines("ImageMaker End").size());
}

TEST(PrintRun, EveryLayerShowsItsOwnImageAtItsHeight)
{
    Printer* printer = harness::startPrinter();
    LightRecorder recorder;
    const int layers = 6;
    const std::string path = harness::writeSvgx("six", layers, 1, 2, 6, 2);
    ASSERT_EQ(0, printer->print(QString::fromStdString(path)));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_STREQ("0", printer->getPrintExitValue());

    const auto events = recorder.events();
    ASSERT_EQ(static_cast<size_t>(layers), events.size());
    for (int n = 0; n < layers; ++n) {
        const int side = 2 * (2 + n);
        EXPECT_EQ(side * side, events[n].litPixels) << "layer " << n;
        // One layer height higher for every layer.
        EXPECT_NEAR(0.05 * n, events[n].plateMm - events[0].plateMm, 0.003) << "layer " << n;
    }

    // Base layers 0 to 2 fall from 6000 ms towards 2000 ms; then 2000 ms.
    const int requested[] = {6000, 4666, 3333, 2000, 2000, 2000};
    const auto exposures = harness::machine().board().display().exposures();
    ASSERT_EQ(static_cast<size_t>(layers), exposures.size());
    const auto lines = harness::logLines("waitExpose");
    ASSERT_EQ(static_cast<size_t>(layers), lines.size());
    for (int n = 0; n < layers; ++n) {
        EXPECT_NE(std::string::npos, lines[n].find("waitExpose [" + std::to_string(requested[n]) + "], Layer[" +
                                                   std::to_string(n) + "]"))
            << lines[n];
        EXPECT_GE(exposures[n].durationMs(), requested[n]) << "layer " << n;
        EXPECT_LT(exposures[n].durationMs(), requested[n] + 1000) << "layer " << n;
    }
}

TEST(PrintRun, SettleRampAndMatchedDrops)
{
    Printer* printer = harness::startPrinter();
    PrintingPara& p = ConfigStore::instance()->m_printingPara;
    p.BaseSettleLayer = 2;
    p.BaseSettleTransLayer = 4;
    p.BaseSettleTime = 8000;
    p.SettleTime = 1000;
    // A lift of 2 + 4 mm and a drop of 4 + 3 mm would walk the plate away:
    // the drop is made to match the lift.
    p.LiftI.X = 2;
    p.LiftII.X = 4;
    p.DropI.X = 4;
    p.DropII.X = 3;
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("settle", 8, 0, 0, 2, 1))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_STREQ("0", printer->getPrintExitValue());

    EXPECT_EQ(1u, harness::logLines("Lift Dist And Drop Dist Inconformity").size());
    const int settle[] = {8000, 8000, 8000, 6250, 4500, 2750, 1000, 1000};
    const auto lines = harness::logLines("waitSettle [");
    ASSERT_EQ(8u, lines.size());
    for (int n = 0; n < 8; ++n)
        EXPECT_NE(std::string::npos, lines[n].find("waitSettle [" + std::to_string(settle[n]) + "]")) << lines[n];
    // Every drop is the lift less one layer: 4 + 2 - 0.05 mm.
    EXPECT_EQ(7u, harness::logLines("Move(-5.950000mm), relative(Y), wait(Y)").size());
    EXPECT_EQ(8u, harness::logLines("Move(6.000000mm), relative(Y), wait(Y)").size());
}

TEST(PrintRun, PausesThatCannotLiftStillHoldAndResume)
{
    Printer* printer = harness::startPrinter();
    PrintingPara& p = ConfigStore::instance()->m_printingPara;
    for (uint32_t lift : {1000u, 0u}) { // past the top of the axis, and none
        p.PauseOverLift = lift;
        // An exposure long enough that the pause is asked for while the layer is made.
        ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("pause", 1, 0, 0, harness::kLongSeconds, harness::kLongSeconds))));
        // Asked for during the last (and only) layer: the pause comes after it.
        ASSERT_EQ(0, printer->pausePrint());
        ASSERT_TRUE(harness::waitForStatus(printer, PrintStatus::Paused));
        EXPECT_EQ(1, printer->printThread()->currentLayer()); // the layer made
        EXPECT_EQ(0, printer->resumePrint());
        ASSERT_TRUE(harness::waitUntilFinished(printer));
        EXPECT_STREQ("0", printer->getPrintExitValue());
    }
    EXPECT_EQ(2u, harness::logLines("MovePausePostion: 0.000000").size());
}

TEST(PrintRun, LiftsAndDropsThatDifferByAFractionStillClimbOneLayerAtATime)
{
    Printer* printer = harness::startPrinter();
    LightRecorder recorder;
    PrintingPara& p = ConfigStore::instance()->m_printingPara;
    // Lift 6 mm, drop 6.9 mm: the same whole millimetres, yet 0.9 mm further
    // down at every layer unless the drop is made to match.
    p.LiftI.X = 2;
    p.LiftII.X = 4;
    p.DropI.X = 4;
    p.DropII.X = 2.9f;
    const int layers = 5;
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("fraction", layers, 0, 0, 2, 1))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_STREQ("0", printer->getPrintExitValue());

    EXPECT_EQ(1u, harness::logLines("Lift Dist And Drop Dist Inconformity").size());
    const auto events = recorder.events();
    ASSERT_EQ(static_cast<size_t>(layers), events.size());
    for (int n = 1; n < layers; ++n)
        EXPECT_NEAR(0.05 * n, events[n].plateMm - events[0].plateMm, 0.003) << "layer " << n;
    EXPECT_EQ(4u, harness::logLines("Move(-5.950000mm), relative(Y), wait(Y)").size());
}

TEST(PrintRun, TheStepListenerHearsEveryWaitBeforeItBegins)
{
    Printer* printer = harness::startPrinter();
    struct Heard
    {
        PrintStep step;
        bool lightOn;
    };
    std::mutex lock;
    std::vector<Heard> heard;
    PrintThread* thread = printer->printThread();
    thread->setStepListener([&](const PrintStep& step) {
        const bool on = harness::machine().board().display().isLightOn();
        std::lock_guard<std::mutex> guard(lock);
        heard.push_back({step, on});
    });
    // One attach and one transition layer: 6000, 4000, then 2000 ms; the
    // first layer settles 2000 ms, the others 1000.
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("steps", 3, 1, 1, 6, 2))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_STREQ("0", printer->getPrintExitValue());
    thread->setStepListener(nullptr);

    std::vector<std::vector<int>> waits; // layer, state, ms of the waits, in order
    for (const Heard& h : heard) {
        if (h.step.waitMs < 0)
            continue;
        waits.push_back({h.step.layer, h.step.state, h.step.waitMs});
        if (h.step.state == waitExpose) {
            EXPECT_FALSE(h.lightOn) << "layer " << h.step.layer;
        }
    }
    const std::vector<std::vector<int>> expected = {
        {0, waitSettle, 2000}, {0, waitExpose, 6000}, {0, waitRelease, 500}, {0, waitBreathe, 500},
        {1, waitSettle, 1000}, {1, waitExpose, 4000}, {1, waitRelease, 500}, {1, waitBreathe, 500},
        {2, waitSettle, 1000}, {2, waitExpose, 2000}, {2, waitRelease, 500}, {2, waitBreathe, 500},
    };
    EXPECT_EQ(expected, waits);
}
