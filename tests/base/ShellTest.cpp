// The shell seam: quoting that survives hostile names, results as a shell
// gives them, and no command that would change the host under a scratch root.
#include "base/RootPath.h"
#include "base/Shell.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::scratchRoot;
using testsupport::writeFile;

TEST(Shell, QuotedWordsReachTheProgramUnchanged)
{
    const std::string marker = scratchRoot() + "/injected";
    const std::vector<std::string> texts = {
        "plain", "", "two words", "it's", "\"double\"", "$(touch " + marker + ")", "`touch " + marker + "`",
        "a;touch " + marker, "new\nline", "back\\slash", "*", "-n",
    };
    for (const std::string& text : texts) {
        std::string output;
        EXPECT_EQ(0, Shell::instance().capture("printf '%s' " + shellQuote(text), &output));
        EXPECT_EQ(text, output);
        output.clear();
        EXPECT_EQ(0, Shell::instance().exec("printf", {"%s", text}, &output));
        EXPECT_EQ(text, output);
    }
    EXPECT_FALSE(fileExists(marker));
}

TEST(Shell, ResultsAreRawWaitStatuses)
{
    const int status = Shell::instance().run("exit 3");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(3, WEXITSTATUS(status));
    EXPECT_EQ(127, WEXITSTATUS(Shell::instance().exec("no-such-program-here", {})));
    EXPECT_EQ(127, WEXITSTATUS(Shell::instance().run("no-such-program-here")));
}

TEST(Shell, ChildrenStartWithNoSignalBlocked)
{
    // Engine threads block timer signals; the programs they start must not inherit that.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGALRM);
    ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &blocked, nullptr));
    std::string output;
    EXPECT_EQ(0, Shell::instance().capture("grep SigBlk /proc/self/status", &output));
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
    EXPECT_EQ("SigBlk:\t0000000000000000\n", output);
}

TEST(Shell, HostChangingCommandsAreRefusedUnderAScratchRoot)
{
    ASSERT_FALSE(rootPrefix().empty());
    const std::string marker = scratchRoot() + "/ran";
    const std::vector<std::string> refused = {
        "ip link set eth0 down",
        "/sbin/ifconfig eth0 192.168.1.9 up",
        "udhcpc -i eth0 -q",
        "wpa_supplicant -B -i wlan0 -c /data/etc/wifi.cfg",
        "killall -9 hostapd",
        "ps | grep udhcpc | awk '{print $1}' | xargs kill",
        "hwclock -w",
        "date -s '2030-01-01 00:00:00'",
        "mount -t vfat /dev/sda1 /media/sda1",
        "sync; echo 3 > /proc/sys/vm/drop_caches",
        "sh -c '/sbin/ip addr flush dev eth0'",
        "nohup /usr/sbin/ntpd -q",
    };
    for (const std::string& command : refused) {
        EXPECT_EQ(-1, Shell::instance().run(command + "; touch " + marker)) << command;
        std::string why;
        EXPECT_TRUE(changesHost(command, &why)) << command;
    }
    EXPECT_EQ(-1, Shell::instance().exec("kill", {"-9", "1"}));
    EXPECT_FALSE(fileExists(marker));

    std::string why;
    for (const char* harmless : {"date +%s", "ls /data", "cat /sys/class/net/eth0/carrier", "cp a b > /data/x",
                                 "rm -rf /data/model/.thumb/kill", "cat /data/etc/ip"})
        EXPECT_FALSE(changesHost(harmless, &why)) << harmless << " (" << why << ")";
}

TEST(Shell, StubsUnderTheScratchRootStillRun)
{
    const std::string bin = scratchRoot() + "/stubs";
    makeDirs(bin);
    writeFile(bin + "/ip", "#!/bin/sh\necho \"ip $*\" > " + scratchRoot() + "/ip.log\n");
    chmod((bin + "/ip").c_str(), 0755);
    setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);

    EXPECT_EQ(0, Shell::instance().run("ip link set eth0 up"));
    EXPECT_EQ("ip link set eth0 up\n", testsupport::readFile(scratchRoot() + "/ip.log"));
}
