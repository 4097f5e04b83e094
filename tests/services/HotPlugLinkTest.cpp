// Ethernet carrier changes from real RTM_NEWLINK messages of a veth pair in
// the test's own network namespace, and the watcher's life: start, stop,
// restart, its sockets.
#include "HotPlugPeers.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "services/HotPlug.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"
#include "support/TmpfsMounts.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>

using hotplugpeers::Gate;
using hotplugpeers::Recorder;
using hotplugpeers::run;
using hotplugpeers::UeventSender;
using hotplugpeers::usbBlockPath;

namespace {

// This process's sockets, each with whether it closes on exec.
std::vector<bool> socketsCloseOnExec()
{
    std::vector<bool> sockets;
    DIR* folder = opendir("/proc/self/fd");
    while (dirent* entry = readdir(folder)) {
        const std::string fd = entry->d_name;
        char target[64] = {};
        if (readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1) <= 0 ||
            std::string(target).rfind("socket:", 0) != 0)
            continue;
        std::ifstream info("/proc/self/fdinfo/" + fd);
        std::string key;
        unsigned long flags = 0;
        while (info >> key)
            if (key == "flags:" && info >> std::oct >> flags)
                break;
        sockets.push_back((flags & 02000000) != 0);
    }
    closedir(folder);
    return sockets;
}

} // namespace

TEST(HotPlugLink, CarrierChangesAreAnnouncedOnceUnderTheInterfaceName)
{
    // Parenthesised: the body holds commas outside brackets.
    RUN_IN_TEST_NAMESPACES(([] {
        run("ip link add eth0 type veth peer name peer0 && ip link add mark0 type veth peer name mark1");
        HotPlug hotPlug;
        Recorder recorder(hotPlug);
        ASSERT_TRUE(hotPlug.start());

        // eth0 gets its carrier when the far end comes up; the kernel sends
        // several messages for it, one announcement is wanted.
        run("ip link set eth0 up && ip link set peer0 up");
        ASSERT_TRUE(recorder.waitForEth("eth0", DEV_ACTION_ADD));
        // Events arrive in order: once the marker's is in, any repeat for eth0 is too.
        run("ip link set mark0 up && ip link set mark1 up");
        ASSERT_TRUE(recorder.waitForEth("mark0", DEV_ACTION_ADD));
        EXPECT_EQ(recorder.ethCount("eth0", DEV_ACTION_ADD), 1);
        EXPECT_EQ(recorder.ethCount("eth0", DEV_ACTION_REMOVE), 0);

        run("ip link set peer0 down");
        ASSERT_TRUE(recorder.waitForEth("eth0", DEV_ACTION_REMOVE));

        // Enslaved to a bridge, the interface keeps its own name.
        run("ip link add br0 type bridge && ip link set br0 up && ip link set eth0 master br0");
        run("ip link set peer0 up");
        ASSERT_TRUE(testsupport::eventually([&] { return recorder.ethCount("eth0", DEV_ACTION_ADD) == 2; }, 10000));
        run("ip link set peer0 down");
        ASSERT_TRUE(testsupport::eventually([&] { return recorder.ethCount("eth0", DEV_ACTION_REMOVE) == 2; }, 10000));
        run("ip link set mark1 down");
        ASSERT_TRUE(recorder.waitForEth("mark0", DEV_ACTION_REMOVE));
        EXPECT_EQ(recorder.ethCount("eth0", DEV_ACTION_ADD), 2);
        EXPECT_EQ(recorder.ethCount("eth0", DEV_ACTION_REMOVE), 2);
        const std::set<QString> names{"eth0", "peer0", "mark0", "mark1", "br0"};
        for (const auto& event : recorder.eth())
            EXPECT_TRUE(names.count(event.dev)) << event.dev.toStdString();
    }));
}

TEST(HotPlugLink, ALinkUpBeforeTheStartAnnouncesItsFirstUnplug)
{
    // Parenthesised: the body holds commas outside brackets.
    RUN_IN_TEST_NAMESPACES(([] {
        run("ip link add eth0 type veth peer name peer0 && ip link add mark0 type veth peer name mark1");
        run("ip link set eth0 up && ip link set peer0 up");
        ASSERT_TRUE(testsupport::waitForCarrier("eth0"));
        HotPlug hotPlug;
        Recorder recorder(hotPlug);
        ASSERT_TRUE(hotPlug.start());

        run("ip link set peer0 down");
        ASSERT_TRUE(recorder.waitForEth("eth0", DEV_ACTION_REMOVE));
        // What held at the start is no news: once the marker's event is in,
        // anything eth0 had to say is in too.
        run("ip link set mark0 up && ip link set mark1 up");
        ASSERT_TRUE(recorder.waitForEth("mark0", DEV_ACTION_ADD));
        EXPECT_EQ(recorder.ethCount("eth0", DEV_ACTION_ADD), 0);
        EXPECT_EQ(recorder.ethCount("eth0", DEV_ACTION_REMOVE), 1);
        EXPECT_EQ(recorder.ethCount("peer0", DEV_ACTION_ADD), 0);

        // Plugged in again: announced as ever.
        run("ip link set peer0 up");
        ASSERT_TRUE(recorder.waitForEth("eth0", DEV_ACTION_ADD));
    }));
}

TEST(HotPlugLink, AnUnplugAmongLostMessagesIsAnnounced)
{
    // Parenthesised: the body holds commas outside brackets.
    RUN_IN_TEST_NAMESPACES(([] {
        testsupport::TmpfsMounts mounts;
        testsupport::makeDirs(rootPath("/data/var"));
        LogWriter::instance()->init("/data/var", "HotPlugLink", LogInfo, 1 << 20, 1, false);
        run("ip link add eth0 type veth peer name peer0 && ip link add mark0 type veth peer name mark1");
        run("ip link add usb0 type veth peer name peer1 && ip link set usb0 up && ip link set peer1 up");
        run("ip link set eth0 up && ip link set peer0 up && ip link set mark0 up");
        ASSERT_TRUE(testsupport::waitForCarrier("eth0"));
        ASSERT_TRUE(testsupport::waitForCarrier("usb0"));
        Gate slowMount;
        HotPlug hotPlug;
        Recorder recorder(hotPlug);
        Gate::OpenAtEnd openAtEnd{slowMount};
        // A slow mount: the watcher reads no link message until it is let go.
        hotPlug.setDiskPresenceHandler([&](bool) { slowMount.wait(); });
        ASSERT_TRUE(hotPlug.start());
        UeventSender sender;
        sender.send("add", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(recorder.waitForUsb(1));

        // Far more link messages than the watcher's socket holds, then the
        // unplug and an adapter pulled, which find no room left.
        run("for i in $(seq 2000); do echo 'link set mark1 up'; echo 'link set mark1 down'; done | ip -batch -");
        run("ip link set peer0 down && ip link del usb0");
        slowMount.open();
        ASSERT_TRUE(recorder.waitForEth("eth0", DEV_ACTION_REMOVE));
        ASSERT_TRUE(recorder.waitForEth("usb0", DEV_ACTION_REMOVE));
        EXPECT_NE(std::string::npos, testsupport::readFile(rootPath("/data/var/HotPlugLink.log"))
                                         .find("link messages lost"))
            << "no message was lost: the test shows nothing";
        // Plugged in again: announced as ever, and the unplug only once.
        run("ip link set peer0 up");
        ASSERT_TRUE(recorder.waitForEth("eth0", DEV_ACTION_ADD));
        EXPECT_EQ(1, recorder.ethCount("eth0", DEV_ACTION_REMOVE));
        EXPECT_EQ(1, recorder.ethCount("eth0", DEV_ACTION_ADD));
    }));
}

TEST(HotPlugLink, StartsOnceStopsAndRestarts)
{
    // Parenthesised: the body holds commas outside brackets.
    RUN_IN_TEST_NAMESPACES(([] {
        testsupport::TmpfsMounts mounts;
        UeventSender sender;
        const size_t socketsBefore = socketsCloseOnExec().size();
        HotPlug hotPlug;
        Recorder recorder(hotPlug);
        ASSERT_TRUE(hotPlug.start());
        ASSERT_TRUE(hotPlug.start());
        const std::vector<bool> sockets = socketsCloseOnExec();
        ASSERT_EQ(sockets.size(), socketsBefore + 2);
        for (bool closeOnExec : sockets)
            EXPECT_TRUE(closeOnExec);

        // A second watcher in the same process binds as well (no fixed port id).
        HotPlug other;
        Recorder otherRecorder(other);
        ASSERT_TRUE(other.start());

        sender.send("add", usbBlockPath("sda", "sda1"));
        sender.send("remove", usbBlockPath("sdb", "sdb1"));
        ASSERT_TRUE(recorder.waitForUsb(2));
        ASSERT_TRUE(otherRecorder.waitForUsb(2));
        EXPECT_EQ(recorder.usb().size(), 2u); // one thread, not two

        other.stop();
        EXPECT_TRUE(hotPlug.stop());
        EXPECT_EQ(socketsCloseOnExec().size(), socketsBefore);
        sender.send("remove", usbBlockPath("sda", "sda1")); // nobody listens
        EXPECT_TRUE(hotPlug.stop());

        ASSERT_TRUE(hotPlug.start());
        sender.send("add", usbBlockPath("sdc", "sdc1"));
        ASSERT_TRUE(recorder.waitForUsb(3));
        EXPECT_EQ(recorder.usb()[2].dev, "sdc1");
        // The destructor ends a running watcher.
    }));
}
