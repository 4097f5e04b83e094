// Pause, resume and abort arriving at every step of a print: whatever the
// step, the print ends with the light off, the status Ready, the right exit
// value, no thread left behind, and the next print works.
#include "engine/print/PrinterHarness.h"

#include "base/config/ConfigStore.h"
#include "engine/print/PrintThread.h"
#include "support/Sanitizers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

enum class Command { Pause, Resume, Abort };

struct Case
{
    int state;
    Command command;
};

int threadCount()
{
    return testsupport::entriesIn("/proc/self/task");
}

bool pauseState(int state)
{
    return state == PauseMove || state == PauseWait || state == ResumeMove;
}

// Drives the print to where `state` happens, on the second layer or later
// for the layer steps.
bool reachState(Printer* printer, int state)
{
    PrintThread* thread = printer->printThread();
    if (pauseState(state)) {
        if (!harness::waitForState(printer, waitSettle) || printer->pausePrint() != 0)
            return false;
        if (state == ResumeMove) {
            if (!harness::waitForStatus(printer, PrintStatus::Paused))
                return false;
            EXPECT_EQ(0, printer->resumePrint());
        }
        return harness::waitForState(printer, state);
    }
    if (state != resetMotor && !harness::waitForState(printer, waitBreathe))
        return false;
    (void)thread;
    return harness::waitForState(printer, state);
}

int send(Printer* printer, Command command)
{
    switch (command) {
    case Command::Pause:
        return printer->pausePrint();
    case Command::Resume:
        return printer->resumePrint();
    case Command::Abort:
        return printer->abortPrint();
    }
    return -99;
}

class PrintCommand : public testing::TestWithParam<Case>
{
};

} // namespace

TEST_P(PrintCommand, EndsCleanlyWhateverTheStep)
{
    const Case c = GetParam();
    // A machine clock slow enough that every step, moves included, lasts a
    // tenth of a second of real time or more, and comes once a layer: the
    // test sees it however busy the host.
    Printer* printer = harness::startPrinter(10);
    PrintingPara& p = ConfigStore::instance()->m_printingPara;
    // Long enough steps that the test sees each of them.
    p.ReleaseTime = 2000;
    p.BreatheTime = 2000;
    const int threadsBefore = threadCount();
    const std::string path = harness::writeSvgx("four", 4, 1, 1, 3, 2);
    ASSERT_EQ(0, printer->print(QString::fromStdString(path)));
    ASSERT_TRUE(reachState(printer, c.state)) << "never reached step " << c.state;

    const PrintStatus status = printer->printStatus();
    const int result = send(printer, c.command);
    switch (c.command) {
    case Command::Pause:
        EXPECT_EQ(status == PrintStatus::Printing ? 0 : -1, result);
        break;
    case Command::Resume:
        EXPECT_EQ(status == PrintStatus::Paused ? 0 : -1, result);
        break;
    case Command::Abort:
        EXPECT_EQ(0, result);
        break;
    }

    // Run to the end, resuming whatever pause is still held.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!printer->isPrintFinished() && std::chrono::steady_clock::now() < end) {
        if (printer->printStatus() == PrintStatus::Paused && printer->printThread()->state() == PauseWait)
            printer->resumePrint();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(printer->isPrintFinished());
    const char* exit = printer->getPrintExitValue();
    if (c.command == Command::Abort)
        EXPECT_EQ(nullptr, exit);
    else
        EXPECT_STREQ("0", exit);
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());
    EXPECT_FALSE(printer->printThread()->isAlive());
    // (The thread sanitizer starts a thread of its own at a time of its choosing.)
    // (A thread that has ended leaves the task list a moment later.)
    if (!testsupport::kThreadSanitizer) {
        EXPECT_TRUE(testsupport::eventually([threadsBefore] { return threadCount() == threadsBefore; }, 10000))
            << "a thread was left behind: " << threadCount() << " for " << threadsBefore;
    }
    const auto exposures = harness::machine().board().display().exposures();
    ASSERT_FALSE(c.command != Command::Abort && exposures.size() != 4u) << exposures.size();
    for (const auto& exposure : exposures)
        EXPECT_FALSE(exposure.isOpen());

    // The next print works.
    harness::machine().board().display().clearTimeline();
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("next", 1, 0, 0, 2, 2))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
}

namespace {

std::vector<Case> allCases()
{
    std::vector<Case> cases;
    for (int state : {int(resetMotor), int(dropMotor), int(waitSettle), int(waitExpose), int(waitRelease),
                      int(liftMotor), int(waitBreathe), int(PauseMove), int(PauseWait), int(ResumeMove)})
        for (Command command : {Command::Pause, Command::Resume, Command::Abort})
            cases.push_back({state, command});
    return cases;
}

std::string caseName(const testing::TestParamInfo<Case>& info)
{
    const char* commands[] = {"Pause", "Resume", "Abort"};
    const char* state = "";
    switch (info.param.state) {
    case resetMotor: state = "Homing"; break;
    case dropMotor: state = "Drop"; break;
    case waitSettle: state = "Settle"; break;
    case waitExpose: state = "Expose"; break;
    case waitRelease: state = "Release"; break;
    case liftMotor: state = "Lift"; break;
    case waitBreathe: state = "Breathe"; break;
    case PauseMove: state = "PauseMove"; break;
    case PauseWait: state = "PauseWait"; break;
    case ResumeMove: state = "ResumeMove"; break;
    }
    return std::string(commands[static_cast<int>(info.param.command)]) + "During" + state;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(EveryStep, PrintCommand, testing::ValuesIn(allCases()), caseName);
