// Under a scratch root only stubs and harmless tools run, however the name
// is spelt; device paths cannot be dressed up past the device filter.
#include "base/HostGuard.h"
#include "base/RootPath.h"
#include "base/Shell.h"
#include "base/SysIo.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

void putStub(const std::string& path)
{
    testsupport::writeScript(path, "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> " + scratchRoot() + "/stubs.log\n");
}

} // namespace

TEST(HostGuard, RefusesEverythingButHarmlessToolsUnderAScratchRoot)
{
    ASSERT_FALSE(rootPrefix().empty());
    const std::string marker = scratchRoot() + "/ran";
    const std::vector<std::string> refused = {
        // the programs the services start on the board
        "udhcpd /etc/udhcpd.conf", "udhcpc -i eth0 -q", "wpa_supplicant -B -i wlan0 -c /data/etc/wifi.cfg",
        "hostapd /data/tmp/hostapd.conf -B", "hwclock -w", "chronyd -q", "/usr/sbin/ntpd -q", "sshd", "telnet 10.0.0.1",
        "/etc/init.d/networking restart", "ip link set eth0 down", "/sbin/ifconfig eth0 192.168.1.9 up", "hostname x",
        "killall -9 hostapd", "mount -t vfat /dev/sda1 /media/sda1", "reboot",
        // spelt to slip past a list of words
        "i''p link", "k\\ill 1", "\"ip\" link", "/sbin//./ip link", "$(echo ip) link", "`echo ip` link",
        "echo $(ip link)", "X=ip; $X link", "{ip,} link", "bash -c \"$'\\x69p' link\"",
        // launchers and shells
        "ps | grep udhcpc | awk '{print $1}' | xargs kill", "nohup /usr/sbin/ntpd -q", "env -i ip link",
        "busybox udhcpc -i eth0", "sh -c '/sbin/ip addr flush dev eth0'", "echo ip link | sh", "sh /etc/init.d/rcS",
        "eval ip link", "find /nonexistent -exec reboot \\;", "awk 'BEGIN{system(\"reboot\")}'", "PATH=/sbin ip link",
        "timeout 5 hwclock -s", "if true; then ip link; fi",
        // the clock and kernel settings
        "date -s '2030-01-01 00:00:00'", "date --set=2030-01-01", "date -us 2030", "date 010100002030",
        "sync; echo 3 > /proc/sys/vm/drop_caches", "echo 1 >//proc/./sys/net/ipv4/ip_forward",
        "echo 1 | tee /proc/sys/kernel/sysrq", "dd if=/dev/zero of=/dev/fb0", "cp x /etc/resolv.conf",
        "cd /proc/sys && echo 1 > x", "echo x > $TARGET", "cat << EOF\nip\nEOF",
        // writes anywhere but the scratch root and temporary files
        "rm -rf /", "chmod -R 777 /home", "cp x /data/etc/General.json", "touch /tmp", "qrencode -o /tmp/../q.png x",
        "cd /; rm -rf media", "find /home -name '*.log' -delete",
    };
    for (const std::string& command : refused) {
        std::string why;
        EXPECT_FALSE(hostGuardAllowsCommand(command, &why)) << command;
        EXPECT_FALSE(why.empty()) << command;
    }
    // The runner itself, with commands that would do no harm if they slipped through.
    for (const char* command : {"i''p link show lo", "\"ip\" link show lo", "hostname", "echo ip link show lo | sh"})
        EXPECT_EQ(-1, Shell::instance().run(std::string(command) + "\ntouch " + marker)) << command;
    EXPECT_FALSE(fileExists(marker));

    std::string why;
    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {"kill", "-9", "1"}, {"hostname"}, {"/sbin/hwclock", "-w"}, {"sh", "-c", "ip link"},
             {"date", "-s", "2030-01-01"}, {"env", "udhcpc"}, {"chronyd", "-x"}}) {
        EXPECT_FALSE(hostGuardAllowsProgram(argv, &why)) << argv[0];
        EXPECT_FALSE(Shell::instance().runTimed(TimedRun{argv}).started) << argv[0];
    }
    EXPECT_EQ(-1, Shell::instance().exec("kill", {"-9", "1"}));
}

TEST(HostGuard, LetsHarmlessToolsRun)
{
    const std::string data = scratchRoot() + "/data";
    std::string why;
    for (const std::string& harmless : std::vector<std::string>{
             "date +%s", "date -u -d @0 +%Y", "ls /data", "cat /sys/class/net/eth0/carrier", "cat /data/etc/ip",
             "cp a " + data + "/b > " + data + "/log", "rm -rf " + data + "/model/.thumb/kill", "uname -r",
             "qrencode -o " + data + "/q.png 'a b'", "md5sum /data/x | cut -d' ' -f1",
             "tar -xJf /data/pkg.tar.xz -C " + data, "unxz -k " + data + "/p.xz", "ps | grep chronyd | awk '{print $1}'",
             "printf '%s' \"$HOME\"", "sed -n 1p /etc/os-release", "cat /proc/sys/kernel/hostname",
             "echo ok 2>&1 >/dev/null", "sh -c 'echo hi; exit 3'", "grep -c x /data/a || true",
             "[ -f /data/x ] && echo yes", "cp /etc/hostname " + data + "/h", "exit 3", "cd " + data + "; touch x",
             "mktemp -d /tmp/talviks-x.XXXXXX"})
        EXPECT_TRUE(hostGuardAllowsCommand(harmless, &why)) << harmless << " (" << why << ")";
}

TEST(HostGuard, StubsUnderTheScratchRootStillRun)
{
    const std::string bin = scratchRoot() + "/stubs";
    makeDirs(bin);
    for (const char* name : {"ip", "udhcpd", "hwclock", "wpa_supplicant"})
        putStub(bin + "/" + name);
    setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);

    EXPECT_EQ(0, Shell::instance().run("ip link set eth0 up"));
    EXPECT_EQ(0, Shell::instance().run("udhcpd /etc/udhcpd.conf; hwclock -w"));
    EXPECT_EQ(0, Shell::instance().exec(bin + "/wpa_supplicant", {"-B", "-i", "wlan0"}));
    EXPECT_TRUE(Shell::instance().runTimed(TimedRun::commandLine("hwclock -s")).succeeded());
    // A tool run from its own folder, as the board runs its vendor tools.
    putStub(bin + "/TOOL_CONF");
    EXPECT_EQ(0, Shell::instance().run("cd " + bin + ";./TOOL_CONF"));
    EXPECT_EQ(-1, Shell::instance().run("cd /usr/sbin;./hwclock -w"));
    EXPECT_EQ("ip link set eth0 up\nudhcpd /etc/udhcpd.conf\nhwclock -w\nwpa_supplicant -B -i wlan0\nhwclock -s\nTOOL_CONF \n",
              testsupport::readFile(scratchRoot() + "/stubs.log"));
}

TEST(HostGuard, DeviceFilterMatchesNormalisedPaths)
{
    for (const char* node : {"/dev/fb0", "/dev/./fb0", "//dev/fb0", "/dev/../dev/spidev0.0", "/dev//i2c-0"}) {
        errno = 0;
        EXPECT_EQ(-1, SysIo::libc().open(node, O_RDWR)) << node;
        EXPECT_EQ(EPERM, errno) << node;
    }
    for (const char* attribute : {"//sys/class/gpio/export", "/sys/./class/gpio/export", "/tmp/../sys/power/state"}) {
        errno = 0;
        EXPECT_EQ(-1, SysIo::libc().open(attribute, O_WRONLY)) << attribute;
        EXPECT_EQ(EPERM, errno) << attribute;
    }
    EXPECT_EQ("/sys/class", absoluteNormalPath("//sys/./class/"));
    EXPECT_EQ("/dev/fb0", absoluteNormalPath("/dev/x/../fb0"));
}
