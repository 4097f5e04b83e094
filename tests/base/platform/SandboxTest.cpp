// Under a scratch root every program the real Shell starts runs in a
// sandbox. Commands known to slip past any reading of command lines are run
// through each entry point of the real seam: each acts on a target under the
// scratch root (so the trick works) and leaves alone the same target in
// folders that stand for the host. The host's stand-ins are folders and
// processes this test made itself, so nothing else is at stake should the
// sandbox fail.
#include "base/platform/Platform.h"
#include "base/platform/Sandbox.h"
#include "base/platform/Shell.h"
#include "base/platform/Spawn.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

// A folder this test made that stands for a part of the host.
class StandIn
{
public:
    explicit StandIn(const std::string& pattern) : m_path(pattern)
    {
        if (!mkdtemp(m_path.data()))
            m_path.clear();
    }
    ~StandIn()
    {
        if (!m_path.empty())
            std::filesystem::remove_all(m_path);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Where the host's files are seen read-only in the sandbox (the working
// folder, in the build tree) and where they are not seen at all (/tmp).
std::string visibleHostPattern()
{
    return std::filesystem::current_path().string() + "/host-standin.XXXXXX";
}
const char kHiddenHostPattern[] = "/tmp/talviks-host-standin.XXXXXX";

// Names, modes and contents of everything under a folder.
std::string snapshot(const std::string& folder)
{
    std::string text;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat info{};
        lstat(entry.path().c_str(), &info);
        text += entry.path().string() + " " + std::to_string(info.st_mode) + " " +
                (entry.is_regular_file() ? readFile(entry.path()) : "") + "\n";
    }
    return text;
}

// The four ways into the real seam.
enum class EntryPoint { Run, Capture, Exec, Timed };
const EntryPoint kEntryPoints[] = {EntryPoint::Run, EntryPoint::Capture, EntryPoint::Exec, EntryPoint::Timed};
const char* nameOf(EntryPoint entry)
{
    static const char* const names[] = {"run", "capture", "exec", "runTimed"};
    return names[static_cast<int>(entry)];
}

// Runs a command line through one entry point; true when it ran to an end
// (whatever its exit code).
bool runThrough(EntryPoint entry, const std::string& command, std::string* output = nullptr)
{
    Shell& shell = platform().shell();
    std::string ignored;
    std::string* out = output ? output : &ignored;
    switch (entry) {
    case EntryPoint::Run:
        return shell.run(command) != -1;
    case EntryPoint::Capture:
        return shell.capture(command, out) != -1;
    case EntryPoint::Exec:
        return shell.exec("sh", {"-c", command}, out) != -1;
    case EntryPoint::Timed: {
        const RunResult result = shell.runTimed(TimedRun{{"sh", "-c", command}});
        *out += result.output;
        return result.started && result.status != -1;
    }
    }
    return false;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A process id as the shell writes it.
std::string pidText(pid_t pid)
{
    return std::to_string(static_cast<long>(pid));
}

// A namespace link of this process, as readlink shows it.
std::string namespaceLink(const std::string& kind)
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/ns/" + kind, error).string();
}

// The value of a "Name:\tvalue" line of a /proc status text.
std::string statusField(const std::string& status, const std::string& name)
{
    for (const std::string& line : testsupport::splitLines(status))
        if (line.compare(0, name.size() + 1, name + ":") == 0)
            return line.substr(line.find_first_not_of(" \t", name.size() + 1));
    return "";
}

} // namespace

TEST(Sandbox, KnownBypassesActOnlyUnderTheScratchRoot)
{
    SKIP_WITHOUT_SANDBOX();
    const StandIn visible(visibleHostPattern());
    const StandIn hidden(kHiddenHostPattern);
    ASSERT_FALSE(visible.path().empty());
    ASSERT_FALSE(hidden.path().empty());
    const std::string root = scratchRoot();

    // DIR stands for the target folder, holding MARK ("old"); each command
    // tries to remove or rewrite it.
    const std::vector<std::string> bypasses = {
        "echo x | sed 's|.*|rm -f DIR/MARK|e'",
        "tar -cf " + root + "/a-CASE.tar --checkpoint=1 --checkpoint-action=exec='rm -f DIR/MARK' -C " + root +
            " stubs.log",
        "env -S \"sh -c 'rm -f DIR/MARK'\"",
        "echo $(( $(rm -f DIR/MARK; echo 1) + 1 ))",
        "echo ${unset_here:-$(rm -f DIR/MARK)}",
        "printf 'rm -f DIR/MARK\\n' > " + root + "/env-CASE; BASH_ENV=" + root + "/env-CASE bash -c :",
        "bash -c \"PS4='\\$(rm -f DIR/MARK)'; set -x; :\" 2>/dev/null",
        "echo DIR/MARK | xargs rm -f",
        "sed -i s/old/new/ DIR/MARK",
        "echo new | sort -o DIR/MARK",
        "awk 'BEGIN { print \"new\" > \"DIR/MARK\" }'",
        "tar -cf DIR/MARK -T /dev/null",
        "l=$(mktemp -u /tmp/talviks-link.XXXXXX) && ln -s DIR/MARK $l && echo new > $l; rm -f $l",
        "ln -sf DIR/MARK " + root + "/link-CASE && echo new > " + root + "/link-CASE",
        "rm -rf DIR/*",
        "cd DIR && rm -f MARK",
        "cd DIR; echo new > ./MARK",
    };
    writeFile(root + "/stubs.log", "");
    int caseNumber = 0;
    for (const std::string& bypass : bypasses) {
        ++caseNumber;
        const EntryPoint entry = static_cast<EntryPoint>(caseNumber % 4);
        const std::string target = root + "/case-" + std::to_string(caseNumber);
        makeDirs(target);
        for (const std::string& folder : {target, visible.path(), hidden.path()})
            writeFile(folder + "/MARK", "old\n");
        const std::string visibleBefore = snapshot(visible.path());
        const std::string hiddenBefore = snapshot(hidden.path());

        for (const std::string& folder : {target, visible.path(), hidden.path()}) {
            const std::string command =
                replaced(replaced(bypass, "DIR", folder), "CASE", std::to_string(caseNumber));
            EXPECT_TRUE(runThrough(entry, command)) << nameOf(entry) << ": " << command;
        }
        EXPECT_NE("old\n", readFile(target + "/MARK")) << "the trick did not act: " << bypass;
        EXPECT_EQ(visibleBefore, snapshot(visible.path())) << nameOf(entry) << ": " << bypass;
        EXPECT_EQ(hiddenBefore, snapshot(hidden.path())) << nameOf(entry) << ": " << bypass;
    }

    // A link the host's /tmp holds, to a file the sandbox sees read-only.
    writeFile(visible.path() + "/MARK", "old\n");
    const std::string before = snapshot(visible.path());
    ASSERT_EQ(0, symlink((visible.path() + "/MARK").c_str(), (hidden.path() + "/link").c_str()));
    for (EntryPoint entry : kEntryPoints)
        EXPECT_TRUE(runThrough(entry, "echo new > " + hidden.path() + "/link")) << nameOf(entry);
    EXPECT_EQ(before, snapshot(visible.path()));
}

TEST(Sandbox, NoProcessOutsideCanBeSignalled)
{
    SKIP_WITHOUT_SANDBOX();
    // The stand-in for the host's processes.
    const std::string duration = testsupport::uniqueSleep(3599);
    SpawnSpec spec;
    spec.argv = {"sleep", duration};
    spec.nullInput = true;
    const pid_t standIn = spawnProgram(spec);
    ASSERT_GT(standIn, 0);
    const std::string pid = pidText(standIn);

    const std::vector<std::string> attempts = {
        "kill -9 " + pid, "kill -TERM " + pid, "/bin/kill -s KILL " + pid, "echo " + pid + " | xargs kill -9",
        "pkill -9 -f 'sleep " + duration + "'", "env -S 'kill -9 " + pid + "'",
    };
    int n = 0;
    for (const std::string& attempt : attempts) {
        const EntryPoint entry = static_cast<EntryPoint>(n++ % 4);
        EXPECT_TRUE(runThrough(entry, attempt)) << attempt;
        EXPECT_EQ(0, waitpid(standIn, nullptr, WNOHANG)) << nameOf(entry) << ": " << attempt;
    }
    // Inside, kill acts as it always does.
    std::string output;
    EXPECT_TRUE(runThrough(EntryPoint::Capture, "sleep 100 & kill -9 $!; wait $!; echo $?", &output));
    EXPECT_EQ("137\n", output);

    kill(standIn, SIGKILL);
    waitpid(standIn, nullptr, 0);
}

TEST(Sandbox, WhatAProgramLeavesBehindEndsWithIt)
{
    SKIP_WITHOUT_SANDBOX();
    for (EntryPoint entry : kEntryPoints) {
        const std::string duration = testsupport::uniqueSleep(3599);
        EXPECT_TRUE(runThrough(entry, "(setsid sleep " + duration + " >/dev/null 2>&1 &); echo left"));
        EXPECT_TRUE(testsupport::eventually([&] { return !testsupport::processWithArgument(duration); }, 10000))
            << nameOf(entry) << " left a daemon behind";
    }
}

TEST(Sandbox, DiesWithTheProcessThatStartedIt)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string duration = testsupport::uniqueSleep(3599);
    const pid_t caller = fork();
    ASSERT_LE(0, caller);
    if (caller == 0) {
        platform().shell().run("sleep " + duration);
        _exit(0);
    }
    EXPECT_TRUE(testsupport::eventually([&] { return testsupport::processWithArgument(duration); }, 10000));
    kill(caller, SIGKILL);
    waitpid(caller, nullptr, 0);
    EXPECT_TRUE(testsupport::eventually([&] { return !testsupport::processWithArgument(duration); }, 10000))
        << "the program outlived the process that started it";
}

// A program that shared its caller's terminal could type into it (TIOCSTI);
// in a session of its own it has no terminal at all. The terminal is one the
// test made, and nothing is ever typed into it.
TEST(Sandbox, ProgramsRunWithoutTheCallersTerminal)
{
    SKIP_WITHOUT_SANDBOX();
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_LE(0, terminal) << strerror(errno);
    ASSERT_EQ(0, grantpt(terminal));
    ASSERT_EQ(0, unlockpt(terminal));
    const std::string side = ptsname(terminal);
    const std::string folder = scratchRoot() + "/terminal";
    makeDirs(folder);
    const char probe[] = "if (: < /dev/tty) 2>/dev/null; then echo terminal; else echo none; fi > ";

    const pid_t caller = fork();
    ASSERT_LE(0, caller);
    if (caller == 0) {
        // The caller leads a session whose terminal, also its standard input, is the test's.
        const int fd = setsid() < 0 ? -1 : open(side.c_str(), O_RDWR);
        if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0 || dup2(fd, STDIN_FILENO) < 0)
            _exit(2);
        // The caller itself has the terminal.
        const int own = open("/dev/tty", O_RDONLY | O_CLOEXEC);
        if (own < 0)
            _exit(3);
        close(own);
        for (EntryPoint entry : kEntryPoints)
            runThrough(entry, probe + folder + "/" + nameOf(entry));
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(caller, waitpid(caller, &status, 0));
    close(terminal);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    for (EntryPoint entry : kEntryPoints)
        EXPECT_EQ("none\n", readFile(folder + "/" + nameOf(entry))) << nameOf(entry);
}

TEST(Sandbox, TheClockCannotBeSet)
{
    SKIP_WITHOUT_SANDBOX();
    // Only once the programs it starts are shown to hold no capability (and
    // to be unable to gain one) is `date` asked to set the clock.
    for (EntryPoint entry : kEntryPoints) {
        const std::string file = scratchRoot() + "/status-" + nameOf(entry);
        ASSERT_TRUE(runThrough(entry, "cat /proc/self/status > " + file));
        const std::string status = readFile(file);
        for (const char* set : {"CapEff", "CapPrm", "CapAmb", "CapInh"})
            ASSERT_EQ("0000000000000000", statusField(status, set)) << nameOf(entry) << " " << set;
        ASSERT_EQ("1", statusField(status, "NoNewPrivs")) << nameOf(entry);
    }

    timespec wall{}, steady{};
    const auto offsetSeconds = [&] {
        clock_gettime(CLOCK_REALTIME, &wall);
        clock_gettime(CLOCK_MONOTONIC, &steady);
        return static_cast<long long>(wall.tv_sec) - static_cast<long long>(steady.tv_sec);
    };
    const long long before = offsetSeconds();
    const std::string later = std::to_string(time(nullptr) + 3600);
    const std::string marker = scratchRoot() + "/clock-refused";
    for (const std::string& command : {"date --s=@" + later, "date -s @" + later, "date --set=@" + later}) {
        std::remove(marker.c_str());
        EXPECT_TRUE(runThrough(EntryPoint::Run, command + " >/dev/null 2>&1 || touch " + marker));
        EXPECT_TRUE(fileExists(marker)) << command << " did not fail";
    }
    EXPECT_NEAR(before, offsetSeconds(), 60) << "the wall clock moved";
}

TEST(Sandbox, EveryEntryPointRunsInNamespacesOfItsOwn)
{
    SKIP_WITHOUT_SANDBOX();
    for (EntryPoint entry : kEntryPoints) {
        const std::string file = scratchRoot() + "/ns-" + nameOf(entry);
        ASSERT_TRUE(runThrough(entry, "readlink /proc/self/ns/pid /proc/self/ns/ipc /proc/self/ns/uts "
                                      "/proc/self/ns/net /proc/self/ns/mnt > " + file + "; cat /proc/net/dev >> " +
                                          file + "; ls /proc | grep -c '^[0-9]' >> " + file));
        const std::vector<std::string> lines = testsupport::splitLines(readFile(file));
        ASSERT_LE(5u, lines.size()) << nameOf(entry);
        int n = 0;
        for (const char* kind : {"pid", "ipc", "uts", "net", "mnt"})
            EXPECT_NE(namespaceLink(kind), lines[n++]) << nameOf(entry) << " shares the " << kind << " namespace";
        // The network has only loopback; the processes are the sandbox's few.
        const std::string devices = readFile(file);
        EXPECT_NE(std::string::npos, devices.find(" lo:")) << devices;
        EXPECT_EQ(8u + 1, lines.size()) << devices; // five links, two headers, lo, the count
        EXPECT_GE(4, std::atoi(lines.back().c_str())) << devices;
    }
}

TEST(Sandbox, OnlyTheScratchRootAndPrivateFoldersAreWritable)
{
    SKIP_WITHOUT_SANDBOX();
    const StandIn visible(visibleHostPattern());
    ASSERT_FALSE(visible.path().empty());
    const std::string root = scratchRoot();
    std::string output;
    ASSERT_TRUE(runThrough(EntryPoint::Capture,
                           "for d in " + root + " " + visible.path() + "; do if touch \"$d/w\" 2>/dev/null; then "
                           "echo yes; else echo no; fi; done; stat -c %d /tmp /run /dev/shm /proc",
                           &output));
    std::vector<std::string> lines = testsupport::splitLines(output);
    ASSERT_EQ(6u, lines.size()) << output;
    EXPECT_EQ("yes", lines[0]) << root;
    EXPECT_EQ("no", lines[1]) << "the host's files are read-only";
    int n = 2;
    for (const char* folder : {"/tmp", "/run", "/dev/shm", "/proc"}) {
        struct stat info{};
        ASSERT_EQ(0, stat(folder, &info));
        EXPECT_NE(std::to_string(info.st_dev), lines[n++]) << folder << " is the host's";
    }
    // Kernel settings ask only for the owner's write permission (the test
    // asks whether they could be written, it writes none).
    output.clear();
    ASSERT_TRUE(runThrough(EntryPoint::Capture,
                           "for f in /proc/sys/vm/drop_caches /proc/sys/kernel/sysrq /proc/sys/net/ipv4/ip_forward; do "
                           "[ -w $f ] && echo $f; done; true",
                           &output));
    EXPECT_EQ("", output) << "writable kernel settings";
    // The host's device nodes are not there; the harmless ones are.
    output.clear();
    ASSERT_TRUE(runThrough(EntryPoint::Capture, "ls /dev", &output));
    lines = testsupport::splitLines(output);
    for (const char* node : {"null", "zero", "urandom", "stdout"})
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), node)) << output;
    for (const char* node : {"sda", "vda", "mem", "kmsg", "rtc0", "fb0", "loop0", "console"})
        EXPECT_EQ(lines.end(), std::find(lines.begin(), lines.end(), node)) << output;
}

TEST(Sandbox, SharesOnlyATestsOwnNetworkNamespace)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string root = scratchRoot();
    RUN_IN_TEST_NAMESPACES([&] {
        SKIP_WITHOUT_SANDBOX();
        ASSERT_EQ(0, testsupport::runInsideTestNamespaces("ip link add veth0 type veth peer name veth1"));
        std::string output;
        ASSERT_TRUE(runThrough(EntryPoint::Capture, "readlink /proc/self/ns/net; grep -c veth /proc/net/dev", &output));
        EXPECT_EQ(namespaceLink("net") + "\n2\n", output);
        // Only the network capabilities, for a DHCP client and its script.
        output.clear();
        ASSERT_TRUE(runThrough(EntryPoint::Timed, "grep CapEff /proc/self/status", &output));
        EXPECT_EQ("CapEff:\t0000000000003400\n", output);
        EXPECT_EQ(0, platform().shell().run("busybox ifconfig veth0 10.66.0.2 netmask 255.255.255.0 up"));
        output.clear();
        testsupport::runInsideTestNamespaces("ip -4 -o addr show dev veth0", &output);
        EXPECT_NE(std::string::npos, output.find("inet 10.66.0.2/24")) << output;
    });
    EXPECT_EQ(0u, if_nametoindex("veth0"));
}

TEST(Sandbox, StubsAndToolsStillRun)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string bin = scratchRoot() + "/stubs";
    for (const char* name : {"ip", "udhcpd", "hwclock", "wpa_supplicant", "TOOL_CONF"})
        testsupport::writeScript(bin + "/" + name, "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> " + scratchRoot() +
                                                       "/stubs.log\n");
    setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);

    EXPECT_EQ(0, platform().shell().run("ip link set eth0 up"));
    EXPECT_EQ(0, platform().shell().run("udhcpd /etc/udhcpd.conf; hwclock -w"));
    EXPECT_EQ(0, platform().shell().exec(bin + "/wpa_supplicant", {"-B", "-i", "wlan0"}));
    EXPECT_TRUE(platform().shell().runTimed(TimedRun::commandLine("hwclock -s")).succeeded());
    // A tool run from its own folder, as the board runs its vendor tools.
    EXPECT_EQ(0, platform().shell().run("cd " + bin + ";./TOOL_CONF"));
    EXPECT_EQ("ip link set eth0 up\nudhcpd /etc/udhcpd.conf\nhwclock -w\nwpa_supplicant -B -i wlan0\nhwclock -s\nTOOL_CONF \n",
              readFile(scratchRoot() + "/stubs.log"));

    // Tools read the host, write the scratch root and answer as ever.
    std::string output;
    EXPECT_EQ(0, platform().shell().capture("qrencode -o " + scratchRoot() + "/q.png 'a b' && md5sum /etc/os-release "
                                           "| cut -c1-32 | wc -c && uname -s",
                                           &output));
    EXPECT_EQ("33\nLinux\n", output);
    EXPECT_TRUE(fileExists(scratchRoot() + "/q.png"));
    EXPECT_EQ(127, WEXITSTATUS(platform().shell().exec("no-such-program-anywhere", {})));
    const RunResult missing = platform().shell().runTimed(TimedRun{{"no-such-program-anywhere"}});
    EXPECT_FALSE(missing.started);
    EXPECT_EQ("No such file or directory", missing.why);
}

namespace {

// Every entry point refuses to start `touch marker`, saying why.
void expectRefused(const std::string& marker)
{
    EXPECT_EQ(-1, platform().shell().run("touch " + marker));
    std::string output;
    EXPECT_EQ(-1, platform().shell().capture("touch " + marker, &output));
    EXPECT_EQ(-1, platform().shell().exec("touch", {marker}));
    const RunResult timed = platform().shell().runTimed(TimedRun{{"touch", marker}});
    EXPECT_FALSE(timed.started);
    EXPECT_EQ(0u, timed.why.find("no sandbox: ")) << timed.why;
    EXPECT_FALSE(fileExists(marker));
}

} // namespace

TEST(Sandbox, NothingRunsWhereTheSandboxCannotBeMade)
{
    const std::string marker = scratchRoot() + "/ran";
    if (!sandboxUnavailable().empty()) {
        expectRefused(marker); // as on this machine
        return;
    }
    // A caller standing in a folder that the private /tmp hides (a checkout
    // under /tmp): the program starts there and sees it read-only.
    const StandIn hidden(kHiddenHostPattern);
    ASSERT_FALSE(hidden.path().empty());
    writeFile(hidden.path() + "/here", "seen");
    const std::string here = std::filesystem::current_path().string();
    ASSERT_EQ(0, chdir(hidden.path().c_str()));
    EXPECT_EQ("", sandboxUnavailable());
    std::string output;
    EXPECT_EQ(0, platform().shell().capture("pwd; cat here; touch mine 2>/dev/null || echo read-only", &output));
    ASSERT_EQ(0, chdir(here.c_str()));
    EXPECT_EQ(hidden.path() + "\nseenread-only\n", output);
    EXPECT_FALSE(fileExists(hidden.path() + "/mine"));

    EXPECT_EQ(0, platform().shell().exec("touch", {marker}));
    EXPECT_TRUE(fileExists(marker));
}

// A test that needs the sandbox skips only where the machine lacks what it
// takes. Where bubblewrap is installed and the process may make namespaces,
// a sandbox that cannot be made fails the test with its cause.
TEST(Sandbox, ATestThatNeedsItFailsWhereTheMachineCouldMakeIt)
{
    bool skip = false;
    const std::string lacking = testsupport::sandboxLacking(&skip);
    if (skip)
        GTEST_SKIP() << lacking;
    ASSERT_EQ("", lacking);
    // A working folder that the sandbox cannot enter: bubblewrap has dropped
    // every capability when it changes into it.
    const std::string locked = scratchRoot() + "/locked";
    makeDirs(locked);
    ASSERT_EQ(0, chown(locked.c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod(locked.c_str(), 0700));
    const pid_t pid = fork();
    ASSERT_LE(0, pid);
    if (pid == 0) {
        if (chdir(locked.c_str()) != 0)
            _exit(10);
        testing::TestPartResultArray results;
        {
            const testing::ScopedFakeTestPartResultReporter intercept(
                testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
            [] { SKIP_WITHOUT_SANDBOX(); }();
        }
        if (results.size() != 1)
            _exit(11);
        const testing::TestPartResult& part = results.GetTestPartResult(0);
        printf("%s\n", part.message());
        fflush(stdout);
        _exit(part.fatally_failed() && std::string(part.message()).find("chdir") != std::string::npos ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the sandbox that cannot be made did not fail the test with its cause";
}
