// The printer's interface as the pages and the remote link use it: what it
// accepts, what it refuses while a print runs, and the light's lamp time.
#include "engine/print/PrinterHarness.h"

#include "base/config/ConfigStore.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "base/platform/ProcessSignals.h"
#include "base/threads/SignalWatch.h"
#include "engine/devices/MotorControl.h"
#include "engine/print/HomingThread.h"
#include "engine/print/PrintThread.h"
#include "support/Emulator.h"
#include "support/TestSupport.h"
#include "writers/HostileSvg.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

TEST(PrinterFacade, RefusesFilesItCannotPrint)
{
    Printer* printer = harness::startPrinter();
    EXPECT_EQ(-1, printer->print("/data/model.stl"));
    EXPECT_EQ(1u, harness::logLines("Invalid Print File Type (/data/model.stl)").size());
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("empty", 0, 0, 0, 2, 2))));
    EXPECT_EQ(1u, harness::logLines("Invalid Layer Count (0)").size());
    EXPECT_EQ(-1, printer->print("/data/missing.svgx"));
    EXPECT_EQ(1u, harness::logLines("Parse File(/data/missing.svgx) failed.").size());

    // A qds file made for another panel.
    ConfigStore::instance()->m_printerConfig.XRes = harness::kWidth * 2;
    EXPECT_EQ(-2, printer->print(QString::fromStdString(harness::writeQds("other", 2))));
    EXPECT_EQ(1u, harness::logLines("Machine Res(128*36)").size());
    ConfigStore::instance()->m_printerConfig.XRes = harness::kWidth;
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());

    // Letter case of the extension does not matter.
    const std::string upper = "/data/UPPER.SVGX";
    ASSERT_EQ(0, rename(rootPath(harness::writeSvgx("upper", 1, 0, 0, 2, 2)).c_str(), rootPath(upper).c_str()));
    ASSERT_EQ(0, printer->print(QString::fromStdString(upper)));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}

TEST(PrinterFacade, ModelDetailsWithoutPrinting)
{
    Printer* printer = harness::startPrinter();
    ModelInfo info;
    info.adjustX = 7;
    EXPECT_EQ(0, printer->getModelInfo("/data/model.stl", info));
    EXPECT_FLOAT_EQ(0.05f, info.layerHeight);
    EXPECT_EQ(0u, info.layerCount);

    EXPECT_EQ(0, printer->getModelInfo(QString::fromStdString(harness::writeSvgx("details", 5, 1, 2, 6, 2)), info));
    EXPECT_EQ(5u, info.layerCount);
    EXPECT_EQ(6000u, info.attachExposure);
    EXPECT_FLOAT_EQ(7, info.adjustX); // left as the caller had it
    EXPECT_GT(info.printTime, 0u);

    EXPECT_EQ(0, printer->getModelInfo(QString::fromStdString(harness::writeQds("details", 3)), info));
    EXPECT_EQ(3u, info.layerCount);
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());

    // A file on a disk being browsed whose parameters hold 7 million elements.
    testwriters::SvgxFileSpec spec;
    spec.printParams = testwriters::printParamsWithEmptyChildren(1, 7000000);
    spec.layers = {testwriters::layerGroup(0, {testwriters::squarePathData(0, 0, 1)})};
    testsupport::writeFile(rootPath("/data/crowded.svgx"), testwriters::buildSvgx(spec));
    EXPECT_EQ(-1, printer->getModelInfo("/data/crowded.svgx", info));
    EXPECT_EQ(-1, printer->print("/data/crowded.svgx"));
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
}

TEST(PrinterFacade, CommandsOutOfTurnAreRefused)
{
    Printer* printer = harness::startPrinter();
    EXPECT_EQ(-1, printer->pausePrint());
    EXPECT_EQ(-1, printer->resumePrint());
    EXPECT_EQ(-1, printer->abortPrint());
    const PrintInfo idle = printer->getPrintInfo();
    EXPECT_EQ(1, idle.layerCount);
    EXPECT_EQ(0, idle.currentLayer);

    // A first exposure long enough that the light stays on while the commands below are refused.
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("busy", 3, 1, 0, harness::kLongSeconds, 2))));
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("second", 1, 0, 0, 2, 2))));
    EXPECT_EQ(-1, printer->resumePrint());
    ASSERT_TRUE(harness::waitForState(printer, waitExpose));
    // The print thread switches the light on just after it enters the step.
    ASSERT_TRUE(testsupport::eventually([] { return harness::machine().board().display().isLightOn(); }, 10000));
    // Nothing from outside the print may move the axis, home it, or touch
    // the light or the panel meanwhile.
    float position = 0;
    ASSERT_GE(printer->getPosition(position), 0);
    EXPECT_EQ(-1, printer->move(5.0f, true, true));
    EXPECT_EQ(-1, printer->stopMove());
    EXPECT_EQ(-1, printer->startHoming(0, 0, true));
    EXPECT_EQ(-1, printer->lightOff());
    EXPECT_EQ(-1, printer->lightOn());
    EXPECT_EQ(-1, printer->enableScreen(false));
    EXPECT_EQ(-1, printer->showGrayImage(255));
    EXPECT_EQ(-1, printer->clearScreen());
    EXPECT_EQ(-1, printer->setLightDuty(100, 100, 100, 100));
    EXPECT_TRUE(harness::machine().board().display().isLightOn());
    const PrintInfo progress = printer->getPrintInfo();
    EXPECT_EQ(3, progress.layerCount);
    EXPECT_GT(progress.remainingTime, 0);

    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
    EXPECT_EQ(3u, harness::machine().board().display().exposures().size());
    // After the end an abort changes nothing.
    EXPECT_EQ(-1, printer->abortPrint());
    EXPECT_STREQ("0", printer->getPrintExitValue());
}

TEST(PrinterFacade, AnAbortRightAfterTheStartIsNotLost)
{
    Printer* printer = harness::startPrinter();
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("early", 3, 0, 0, 2, 2))));
        EXPECT_EQ(0, printer->abortPrint());
        ASSERT_TRUE(harness::waitUntilFinished(printer));
        EXPECT_EQ(nullptr, printer->getPrintExitValue());
        EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    }
    EXPECT_TRUE(harness::machine().board().display().exposures().empty());
}

TEST(PrinterFacade, TwoCallersStartingAPrintAtOnceGetOnePrint)
{
    Printer* printer = harness::startPrinter();
    const QString path = QString::fromStdString(harness::writeSvgx("race", 1, 0, 0, 2, 2));
    std::atomic<int> accepted{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            accepted += printer->print(path) == 0;
        });
    go = true;
    for (auto& caller : callers)
        caller.join();
    EXPECT_EQ(1, accepted.load());
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}

TEST(PrinterFacade, PanelAndHomingOutsideAPrint)
{
    Printer* printer = harness::startPrinter();
    EXPECT_EQ(0, printer->showGrayImage(255));
    EXPECT_EQ(255, harness::framePixel(0, 0) | harness::framePixel(harness::kWidth - 1, harness::kHeight - 1));
    EXPECT_EQ(0, printer->showGrayImage(256)); // only logged
    EXPECT_EQ(2u, harness::logLines("Printer Show Gray Image").size());

    EXPECT_EQ(0, printer->startHoming(0, 0, true));
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    EXPECT_EQ(1u, harness::logLines("PrintStatus (2)").size());
    harness::machine().board().motor().setSwitchFault(sim::StepperDriverModel::SwitchFault::StuckOpen);
    EXPECT_NE(0, printer->startHoming(0, 0, true));
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
}

namespace {

// Machine time the test sets by hand; waits still run in real time.
class HandClock : public Clock
{
public:
    timespec now() const override { return nsToTimespec(m_ns.load()); }
    void setSeconds(double seconds) { m_ns = static_cast<int64_t>(seconds * 1e9); }

private:
    std::atomic<int64_t> m_ns{0};
};

} // namespace

TEST(PrinterFacade, LampTimeIsCountedInWholeMinutesAndSavedAtShutdown)
{
    Printer* printer = harness::startPrinter();
    ASSERT_EQ(0, printer->enableScreen(true));
    UsedTime& used = ConfigStore::instance()->m_usedTime;
    used.LightTime = 100;
    {
        // Static: the printer's threads may still hold it after it is replaced.
        static HandClock clock;
        ScopedPlatform handClock(&clock);
        auto burn = [printer](double from, double to) {
            clock.setSeconds(from);
            ASSERT_EQ(0, printer->lightOn());
            clock.setSeconds(to);
            ASSERT_EQ(0, printer->lightOff(0));
        };
        // Seconds are counted as the clock's second field changes. Up to 60
        // stay in memory; the switch-off that passes 60 saves them all.
        burn(1000.9, 1060.1); // 60
        EXPECT_EQ(100u, used.LightTime);
        EXPECT_EQ(0, printer->lightOff(0)); // a second switch-off adds nothing
        EXPECT_EQ(100u, used.LightTime);
        burn(2000.5, 2002.4); // 2
        EXPECT_EQ(100u + 62, used.LightTime);
        EXPECT_NE(std::string::npos,
                  testsupport::readFile(rootPath("/data/etc/UsedTime.json")).find("\"LightTime\" : 162"));
        // Seconds still in memory are saved when the printer shuts down.
        burn(3000, 3030);
        EXPECT_EQ(162u, used.LightTime);
        printer->destroy();
    }
    EXPECT_EQ(162u + 30, used.LightTime);
    EXPECT_NE(std::string::npos,
              testsupport::readFile(rootPath("/data/etc/UsedTime.json")).find("\"LightTime\" : 192"));
}

TEST(PrinterFacade, ShutdownReportsNoLightFailureThatDidNotHappen)
{
    Printer* printer = harness::startPrinter();
    sim::DisplayControllerModel& display = harness::machine().board().display();
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("before", 1, 0, 0, 2, 2))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_FALSE(display.isPowered()); // the end of a print powers the projector off
    printer->destroy();
    EXPECT_TRUE(harness::logLines("00020001").empty());
    EXPECT_TRUE(harness::logLines("Fail").empty());

    // With the projector powered and the light on, the shutdown switches it off.
    ASSERT_EQ(0, printer->enableScreen(true));
    ASSERT_EQ(0, printer->lightOn());
    ASSERT_TRUE(display.isLightOn());
    printer->destroy();
    EXPECT_FALSE(display.isLightOn());
    EXPECT_TRUE(harness::logLines("00020001").empty());
    EXPECT_EQ(2u, harness::logLines("Destory Printer").size());

    // A power line that cannot be read never keeps the light on.
    ASSERT_EQ(0, printer->enableScreen(true));
    ASSERT_EQ(0, printer->lightOn());
    harness::machine().board().board().faults().failNext("/sys/class/gpio/gpio30/value", sim::IoOp::Open, 4, EMFILE);
    harness::machine().board().board().faults().failNext("/sys/class/gpio/gpio30/value", sim::IoOp::Read, 4, EIO);
    EXPECT_EQ(0, printer->lightOff(0));
    EXPECT_FALSE(display.isLightOn());
    harness::machine().board().board().faults().clear();
}

// Runs only inside the child processes of the test below: prints with
// exposures of an hour (or a first layer that takes minutes to draw) until a
// termination signal ends the process, writing every switch of the light to
// a file as it happens.
TEST(PrinterFacadeSignalChild, PrintsUntilASignalEndsIt)
{
    const char* lights = getenv("TALVIKS_SIGNAL_CHILD");
    if (!lights)
        GTEST_SKIP() << "runs in the child processes of PrinterFacade.ATerminationSignalDuringAnExposure...";
    catchTerminationSignals();
    if (const char* holdBack = getenv("TALVIKS_SIGNAL_HOLD_BACK_MS"))
        SignalWatch::holdBackForTests(atoi(holdBack));
    Printer* printer = harness::startPrinter();
    const int fd = open(lights, O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0) << strerror(errno);
    harness::machine().board().display().setLightHook([fd](const sim::DisplayControllerModel::LightEvent& e) {
        const char* line = e.on ? "on\n" : "off\n";
        EXPECT_GT(write(fd, line, strlen(line)), 0);
    });
    ASSERT_EQ(0, printer->stopOnSignals());
    std::string file = harness::writeSvgx("signal", 2, 0, 0, 3600, 3600);
    if (getenv("TALVIKS_SIGNAL_SLOW_LAYER")) {
        testwriters::SvgxFileSpec spec;
        spec.printParams = testwriters::printParamsElement({}, 1);
        spec.layers.push_back(testwriters::gradientCirclesLayer(0, 200000, 60));
        testsupport::writeFile(rootPath(file), testwriters::buildSvgx(spec));
    }
    ASSERT_EQ(0, printer->print(QString::fromStdString(file)));
    harness::waitUntilFinished(printer, 600);
    ADD_FAILURE() << "the print ended without a signal";
}

TEST(PrinterFacade, ATerminationSignalDuringAnExposureAbortsAndSwitchesTheLightOffBeforeTheProcessEnds)
{
    // A renderer left behind by a child becomes this process's child. The
    // emulator (qemu-user 7.2) refuses the option: there a renderer is only
    // seen to go.
    const bool reaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    ASSERT_TRUE(reaper || testsupport::underEmulator()) << strerror(errno);
    std::vector<std::string> argv = testsupport::programArgv(testsupport::selfPath());
    argv.push_back("--gtest_filter=PrinterFacadeSignalChild.*");
    enum class To { Process, Group, MainThread };
    const struct
    {
        const char* name;
        int signal;
        To to;
        bool slowLayer; // signalled while its first layer is drawn
        int holdBackMs; // the watch's answer held back
    } cases[] = {
        {"SIGTERM", SIGTERM, To::Process, false, 0},
        {"SIGHUP", SIGHUP, To::Process, false, 0},
        // Followed by another signal once the first is being answered: the
        // process still ends by the first.
        {"SIGINT, then SIGTERM", SIGINT, To::Process, false, 0},
        // Ctrl-C at a terminal: the whole group is signalled while a layer
        // is drawn, and the watch is late. The renderer is not the
        // printer's group's: the print ends as an abort, not as a failure.
        {"Ctrl-C to the group while a layer is drawn", SIGINT, To::Group, true, 1000},
        // A signal sent to one thread is the process's all the same.
        {"SIGTERM to the main thread alone", SIGTERM, To::MainThread, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = testsupport::scratchRoot() + "/signal-" + std::to_string(&c - cases);
        const std::string lights = dir + "/lights.txt";
        const std::string output = dir + "/output.txt";
        testsupport::makeDirs(dir + "/tmp");
        testsupport::writeFile(lights, "");
        std::vector<std::string> env = {"TMPDIR=" + dir + "/tmp", "TALVIKS_SIGNAL_CHILD=" + lights,
                                        "TALVIKS_SIGNAL_HOLD_BACK_MS=" + std::to_string(c.holdBackMs)};
        if (c.slowLayer)
            env.push_back("TALVIKS_SIGNAL_SLOW_LAYER=1");
        const pid_t child = testsupport::startProgram(argv, env, output);
        ASSERT_GT(child, 0);
        int status = 0;
        bool gone = false;
        auto ended = [&] { return gone || (gone = waitpid(child, &status, WNOHANG) == child); };
        std::vector<pid_t> renderers;
        auto findRenderers = [&] {
            renderers.clear();
            for (pid_t pid : testsupport::childProcesses(child))
                if (harness::isLayerRenderer(pid))
                    renderers.push_back(pid);
            return !renderers.empty();
        };
        const bool ready = testsupport::eventually(
            [&] { return ended() || (c.slowLayer ? findRenderers() : testsupport::readFile(lights) == "on\n"); },
            60000);
        if (!ready) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        ASSERT_TRUE(ready && !gone) << testsupport::readFile(output);
        if (c.slowLayer)
            std::this_thread::sleep_for(std::chrono::milliseconds(500)); // drawing by now
        findRenderers();
        EXPECT_EQ(1u, renderers.size());

        if (c.to == To::Group)
            ASSERT_EQ(0, kill(-child, c.signal));
        else if (c.to == To::MainThread)
            ASSERT_EQ(0, syscall(SYS_tgkill, child, child, c.signal));
        else
            ASSERT_EQ(0, kill(child, c.signal));
        // The child's own scratch root is under its TMPDIR.
        auto childLog = [&] {
            for (const auto& entry : std::filesystem::directory_iterator(dir + "/tmp"))
                if (entry.path().filename().string().rfind("talviks-test.", 0) == 0)
                    return testsupport::readFile(entry.path().string() + "/data/var/TalvikS.log");
            return std::string();
        };
        const std::string received = "Signal " + std::to_string(c.signal) + " (";
        if (c.signal == SIGINT && c.to == To::Process) {
            testsupport::eventually([&] { return childLog().find(received) != std::string::npos; }, 10000);
            kill(child, SIGTERM);
        }
        if (!testsupport::eventually(ended, 60000)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the signal did not end the process\n" << testsupport::readFile(output);
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal)
            << "wait status " << status << "\n" << testsupport::readFile(output);
        const std::vector<std::string> switches = testsupport::splitLines(testsupport::readFile(lights));
        ASSERT_EQ(c.slowLayer, switches.empty());
        if (!switches.empty()) {
            EXPECT_EQ("off", switches.back());
        }
        // Ended (and reaped) by the printer before its process ended: never this process's child.
        for (pid_t pid : renderers) {
            if (!reaper) {
                EXPECT_TRUE(testsupport::eventually([pid] { return !harness::isLayerRenderer(pid); }))
                    << "renderer " << pid << " outlived the process";
                continue;
            }
            const pid_t left = waitpid(pid, nullptr, WNOHANG);
            EXPECT_TRUE(left == -1 && errno == ECHILD) << "renderer " << pid << " outlived the process";
            if (left == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        const std::string log = childLog();
        const size_t at = log.find(received);
        ASSERT_NE(std::string::npos, at) << log;
        EXPECT_NE(std::string::npos, log.find("Printer Abort Print", at));
        EXPECT_NE(std::string::npos, log.find("Printer UVLight Is Closed", at));
        // Nothing but the signal ended the print.
        EXPECT_EQ(std::string::npos, log.find("Memory Not Enough")) << log;
        EXPECT_EQ(std::string::npos, log.find("its image could not be made")) << log;
    }
}

TEST(HomingThread, StartsOnceAndStopsMidWay)
{
    Printer* printer = harness::startPrinter();
    HomingThread homing(printer);
    homing.stop(); // never started: nothing happens
    EXPECT_TRUE(homing.isFinished());

    ASSERT_EQ(0, homing.start());
    EXPECT_FALSE(homing.isFinished());
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, homing.start());
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("HomingThread running"));
    ASSERT_TRUE(harness::waitForStatus(printer, PrintStatus::Homing));
    homing.stop();
    EXPECT_TRUE(homing.isFinished());
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    EXPECT_FALSE(harness::machine().board().motor().isMoving());

    // A later homing runs to its end.
    ASSERT_EQ(0, homing.start());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!homing.isFinished() && std::chrono::steady_clock::now() < end)
        PThread::msleep(5);
    EXPECT_TRUE(homing.isFinished());
    EXPECT_TRUE(printer->isZLimitTriggered() || harness::machine().board().motor().physicalMm() < 1);
}

// A start that comes as the last homing reports its end (its thread still on
// the way out) homes again: a start that answers 0 is never lost.
TEST(HomingThread, AStartRightAfterTheLastHomingEndedHomes)
{
    Printer* printer = harness::startPrinter(2000);
    HomingThread homing(printer);
    const size_t before = harness::logLines("Printer Start Homing").size();
    constexpr int kRounds = 500;
    int answeredZero = 0;
    for (int round = 0; round < kRounds; ++round) {
        answeredZero += homing.start() == 0;
        // Straight on as the end is reported, as a page's poll may find it.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!homing.isFinished() && std::chrono::steady_clock::now() < end) {
        }
        ASSERT_TRUE(homing.isFinished()) << round;
    }
    EXPECT_EQ(kRounds, answeredZero);
    EXPECT_EQ(size_t(answeredZero), harness::logLines("Printer Start Homing").size() - before)
        << "a start answered 0 and homed nothing";
}

TEST(PrinterFacade, InitializeReportsWhatFailed)
{
    Printer* printer = harness::bootPrinter();
    sim::PrinterBoard& board = harness::machine().board();
    PrinterConfig& config = ConfigStore::instance()->m_printerConfig;
    config.MaskFlag = true;
    board.board().faults().failNext("/dev/spidev0.0", sim::IoOp::Open, 1, EIO);
    board.board().faults().failNext("/dev/i2c-0", sim::IoOp::Ioctl, 1000, EIO);
    EXPECT_EQ("00020016", printer->initialize("/data/missing-mask.png", ""));
    EXPECT_FALSE(printer->isInitialized());
    // A mask that cannot be loaded switches masking off for good.
    EXPECT_FALSE(config.MaskFlag);
    EXPECT_EQ(1u, harness::logLines("Close MaskFlag").size());
    EXPECT_EQ(1u, harness::logLines("Printer motor set-up failed").size());
}

TEST(PrinterFacade, StatusQueriesFollowPauseResumeAndAbort)
{
    Printer* printer = harness::startPrinter();
    harness::LightRecorder recorder;
    EXPECT_FALSE(printer->isPausing());
    // After a short first layer, exposures long enough for the abort to land in one.
    ASSERT_EQ(0, printer->print(
                     QString::fromStdString(harness::writeSvgx("queries", 3, 1, 0, 2, harness::kLongSeconds))));
    ASSERT_TRUE(harness::waitForState(printer, waitSettle));
    EXPECT_FALSE(printer->isPausing());
    ASSERT_EQ(0, printer->pausePrint());
    EXPECT_TRUE(printer->isPausing()); // asked for; the layer goes on
    EXPECT_FALSE(printer->isPaused());
    ASSERT_TRUE(harness::waitForState(printer, PauseWait));
    ASSERT_TRUE(harness::waitForStatus(printer, PrintStatus::Paused));
    EXPECT_FALSE(printer->isPausing());
    EXPECT_FALSE(printer->isPaused()); // held, not yet on the way back
    ASSERT_EQ(0, printer->resumePrint());
    // Paused stays the status while the plate returns.
    EXPECT_TRUE(testsupport::eventually([printer] { return printer->isPaused(); }, 30000, 100));
    ASSERT_TRUE(harness::waitForState(printer, waitExpose));
    EXPECT_FALSE(printer->isAborting());
    ASSERT_EQ(0, printer->abortPrint());
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_EQ(nullptr, printer->getPrintExitValue());
    EXPECT_FALSE(printer->isAborting());
    // The exposure cut short by the abort ended while the printer said it was aborting.
    const auto switches = recorder.switches();
    ASSERT_GE(switches.size(), 2u);
    EXPECT_TRUE(std::any_of(switches.begin(), switches.end(),
                            [](const harness::LightSwitch& s) { return !s.on && s.aborting; }));
}

TEST(PrinterFacade, APrintStartedRightAfterReadyKeepsTheLastResult)
{
    Printer* printer = harness::startPrinter();
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("quick", 1, 0, 0, 2, 2))));
        ASSERT_TRUE(harness::waitUntilFinished(printer));
        // By the time the printer is Ready the print's time is stored and its
        // file closed: the status comes last.
        const auto lines = harness::logLines("]");
        size_t finished = 0, ready = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].find("printFinished") != std::string::npos)
                finished = i;
            if (lines[i].find("PrintStatus (1)") != std::string::npos)
                ready = i;
        }
        EXPECT_GT(ready, finished);
        EXPECT_GT(printer->lastPrintTime(), 0u);

        // Right away, while the print thread may still be on its way out.
        const char* last = printer->getPrintExitValue();
        ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("again", 1, 0, 0, 2, 2))));
        ASSERT_NE(nullptr, last);
        EXPECT_STREQ("0", last); // still readable after the next print started
        ASSERT_TRUE(harness::waitUntilFinished(printer));
        EXPECT_STREQ("0", printer->getPrintExitValue());
    }
}

TEST(PrinterFacade, ARefusedPrintLeavesTheLastResult)
{
    Printer* printer = harness::startPrinter();
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("first", 1, 0, 0, 2, 2))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    // Exposures no print means: none, or weeks of light.
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("none", 2, 0, 0, 2, 0))));
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("negative", 2, 0, 0, 2, -3))));
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("weeks", 2, 0, 0, 2, 2e6f))));
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("attach", 2, 1, 0, 4000, 2))));
    EXPECT_EQ(4u, harness::logLines("exposure outside 0 to 3600 s").size());
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    EXPECT_STREQ("0", printer->getPrintExitValue());
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
}

TEST(HomingThread, DroppingAFinishedHomingLeavesAPrintAlone)
{
    // A machine clock slow enough that the print's own homing lasts seconds of real time.
    Printer* printer = harness::startPrinter(5);
    {
        HomingThread homing(printer);
        ASSERT_EQ(0, homing.start());
        ASSERT_TRUE(testsupport::eventually([&homing] { return homing.isFinished(); }, 60000));
        // The plate up high: the print's homing has a long way down.
        harness::machine().board().motor().placeAxis(100);
        ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("homed", 3, 0, 0, 2, 2))));
        ASSERT_TRUE(harness::waitForState(printer, resetMotor));
    } // the page drops it while the print homes: its destructor must not stop the axis
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
    EXPECT_EQ(3u, harness::machine().board().display().exposures().size());
}
