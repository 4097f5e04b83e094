// Timed program runs: results told apart (exit code, signal, overrun, cancel,
// no start), output captured, the whole process group killed on overrun, and
// no hang on a daemon that keeps the output open.
#include "base/platform/Platform.h"
#include "base/platform/Shell.h"
#include "base/threads/StopSignal.h"
#include "support/RecordingShell.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using testsupport::monotonicMs;
using testsupport::scratchRoot;

namespace {

// A script under the scratch root.
std::string stub(const std::string& name, const std::string& body)
{
    const std::string path = scratchRoot() + "/" + name;
    testsupport::writeScript(path, "#!/bin/sh\n" + body + "\n");
    return path;
}

TimedRun timed(std::vector<std::string> argv, int finishLimitMs = 20000)
{
    TimedRun run;
    run.argv = std::move(argv);
    run.finishLimitMs = finishLimitMs;
    return run;
}

} // namespace

TEST(TimedRun, TellsExitCodesSignalsAndCapturesBothStreams)
{
    SKIP_WITHOUT_SANDBOX();
    RunResult ok = platform().shell().runTimed(timed({"sh", "-c", "echo out; echo err >&2"}));
    EXPECT_TRUE(ok.started);
    EXPECT_TRUE(ok.succeeded());
    EXPECT_EQ("out\n", ok.output);
    EXPECT_EQ("err\n", ok.errors);
    EXPECT_FALSE(ok.timedOut);

    RunResult three = platform().shell().runTimed(timed({"sh", "-c", "exit 3"}));
    EXPECT_EQ(3, three.exitCode());
    EXPECT_FALSE(three.succeeded());

    // Killed by a signal: a failure, never an exit code of 0 (the sandbox
    // tells the signal as a shell does, 128 + its number).
    RunResult killed = platform().shell().runTimed(timed({stub("selfkill", "kill -KILL $$")}));
    EXPECT_TRUE(killed.started);
    EXPECT_EQ(128 + SIGKILL, killed.exitCode());
    EXPECT_FALSE(killed.succeeded());

    RunResult flood = platform().shell().runTimed(timed({"head", "-c", "3000000", "/dev/zero"}));
    EXPECT_TRUE(flood.succeeded());
    EXPECT_EQ(RunResult::kOutputCap, flood.output.size());
}

TEST(TimedRun, AProgramThatCannotStartIsNoSuccess)
{
    RunResult missing = platform().shell().runTimed(timed({"no-such-program-here"}));
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(-1, missing.exitCode());
    EXPECT_FALSE(missing.why.empty());

    RunResult empty = platform().shell().runTimed(TimedRun::commandLine(""));
    EXPECT_FALSE(empty.started);
    EXPECT_FALSE(empty.succeeded());
}

TEST(TimedRun, AnOverrunKillsTheWholeProcessGroup)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string first = testsupport::uniqueSleep(60), second = testsupport::uniqueSleep(60);
    const std::string script = stub("overrun", "sleep " + first + " &\nsleep " + second);
    const int limitMs = 1500;
    const long long start = monotonicMs();
    RunResult result = platform().shell().runTimed(timed({script}, limitMs));
    const long long tookMs = monotonicMs() - start;

    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(-1, result.exitCode());
    EXPECT_GE(tookMs, limitMs);
    EXPECT_LT(tookMs, limitMs + 1000);
    EXPECT_TRUE(testsupport::eventually(
        [&] { return !testsupport::processWithArgument(first) && !testsupport::processWithArgument(second); }, 5000))
        << "a process of the overrun lives on";
}

TEST(TimedRun, ACancelFromAnotherThreadEndsTheRun)
{
    SKIP_WITHOUT_SANDBOX();
    StopSignal stop;
    TimedRun run = timed({stub("long", "sleep 60")});
    run.cancelFd = stop.fd();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.raise();
    });
    const long long start = monotonicMs();
    RunResult result = platform().shell().runTimed(run);
    stopper.join();
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
    EXPECT_LT(monotonicMs() - start, 10000);

    // Cancelling is sticky: the next run does not start.
    RunResult next = platform().shell().runTimed(run);
    EXPECT_FALSE(next.started);
    EXPECT_TRUE(next.cancelled);
}

TEST(TimedRun, ReturnsWhenTheProgramExitsThoughItsDaemonHoldsTheOutput)
{
    SKIP_WITHOUT_SANDBOX();
    // In namespaces of its own, so the daemon dies with the test.
    RUN_IN_TEST_NAMESPACES([] {
        const std::string script = stub("daemonise", "(setsid sleep 60 &)\necho started");
        const long long start = monotonicMs();
        RunResult result = platform().shell().runTimed(timed({script}));
        EXPECT_TRUE(result.succeeded());
        EXPECT_EQ("started\n", result.output);
        EXPECT_LT(monotonicMs() - start, 10000);
    });
}

TEST(TimedRun, CommandLinesSplitWithoutAShell)
{
    SKIP_WITHOUT_SANDBOX();
    EXPECT_EQ((std::vector<std::string>{"wpa_supplicant", "-c", "/data/etc/wifi.cfg", "-B"}),
              splitCommandLine("wpa_supplicant  -c /data/etc/wifi.cfg\t-B "));
    EXPECT_EQ((std::vector<std::string>{"printf", "two words", "x\"y", "$(id);"}),
              splitCommandLine("printf \"two words\" x\"\"\"y $(id);"));
    RunResult result = platform().shell().runTimed(TimedRun::commandLine("printf \"%s|\" \"a b\" $(id)"));
    EXPECT_EQ("a b|$(id)|", result.output);
}

TEST(TimedRun, TheRecordingShellRecordsAndScriptsRuns)
{
    testsupport::RecordingShell shell;
    shell.scriptRun("udhcpc", testsupport::RecordingShell::overran());
    shell.scriptRun("hostapd", testsupport::RecordingShell::exited(1, "", "bad config"));
    shell.script("iwlist", 0, "Cell 01");

    TimedRun dhcp = TimedRun::commandLine("udhcpc -i wlan0");
    dhcp.finishLimitMs = 30000;
    EXPECT_TRUE(platform().shell().runTimed(dhcp).timedOut);
    EXPECT_EQ(1, platform().shell().runTimed(TimedRun::commandLine("hostapd /data/tmp/hostapd.conf -B")).exitCode());
    EXPECT_EQ("Cell 01", platform().shell().runTimed(TimedRun::commandLine("iwlist wlan0 scan")).output);
    EXPECT_TRUE(platform().shell().runTimed(TimedRun::commandLine("ifconfig wlan0 up")).succeeded());

    EXPECT_EQ((std::vector<std::string>{"udhcpc -i wlan0", "hostapd /data/tmp/hostapd.conf -B", "iwlist wlan0 scan",
                                        "ifconfig wlan0 up"}),
              shell.commands());
    ASSERT_EQ(4u, shell.timedRuns().size());
    EXPECT_EQ(30000, shell.timedRuns()[0].finishLimitMs);
}
