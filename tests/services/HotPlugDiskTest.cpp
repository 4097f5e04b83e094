// USB-disk partitions from real uevents on the test namespace's uevent group,
// mounted through the tmpfs double of the mount seam.
#include "HotPlugPeers.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "board/SimMachine.h"
#include "engine/devices/Buzzer.h"
#include "engine/print/Printer.h"
#include "services/HotPlug.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"
#include "support/TmpfsMounts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <stdexcept>

using hotplugpeers::Gate;
using hotplugpeers::Recorder;
using hotplugpeers::UeventSender;
using hotplugpeers::usbBlockPath;
using testsupport::fileExists;
using testsupport::TmpfsMounts;

namespace {

// The machine clock, counting the waits asked of it by length: the buzzer
// asks for one as long as its beep, and this machine has no buzzer line to watch.
class WaitRecordingClock : public Clock
{
public:
    explicit WaitRecordingClock(Clock& machine) : m_machine(machine) {}
    timespec now() const override { return m_machine.now(); }
    timespec deadlineAfterMs(int64_t ms) const override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_waits.push_back(ms);
        }
        return m_machine.deadlineAfterMs(ms);
    }
    timeval wallTime() const override { return m_machine.wallTime(); }
    int setWallTime(const timeval& tv) override { return m_machine.setWallTime(tv); }

    int waitsOf(int64_t ms) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count(m_waits.begin(), m_waits.end(), ms));
    }

private:
    Clock& m_machine;
    mutable std::mutex m_mutex;
    mutable std::vector<int64_t> m_waits;
};

std::string mountTable()
{
    std::string table;
    EXPECT_TRUE(platform().mounts().readTable(&table));
    return table;
}

bool mounted(const std::string& partition)
{
    return mountTable().find("/dev/" + partition + " /media/" + partition + " ") != std::string::npos;
}

// A watcher on the tmpfs double, with its recorder and a uevent sender.
struct DiskWatch
{
    TmpfsMounts mounts;
    HotPlug hotPlug;
    Recorder recorder{hotPlug};
    UeventSender sender;
};

} // namespace

TEST(HotPlugDisk, AnAddedPartitionIsMountedAnnouncedAndRemoved)
{
    RUN_IN_TEST_NAMESPACES([] {
        DiskWatch watch;
        ASSERT_TRUE(watch.hotPlug.start());
        // A whole disk, a disk with a two-letter name and an SD card are not
        // USB-disk partitions; only sda1 may come through, and first.
        watch.sender.send("add", usbBlockPath("sda"));
        watch.sender.send("add", usbBlockPath("sdaa", "sdaa1"));
        watch.sender.send("add", "/devices/platform/mmc0/mmc0:0001/block/mmcblk0/mmcblk0p1");
        watch.sender.send("change", usbBlockPath("sda", "sda1"));
        watch.sender.send("add", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(1));
        auto events = watch.recorder.usb();
        EXPECT_EQ(events[0].dev, "sda1");
        EXPECT_EQ(events[0].action, DEV_ACTION_ADD);
        EXPECT_EQ(events[0].mountDir, "/media/sda1");
        EXPECT_TRUE(mounted("sda1")) << mountTable();
        ASSERT_EQ(watch.mounts.calls().size(), 1u);
        EXPECT_EQ(watch.mounts.calls()[0].type, "vfat");
        EXPECT_EQ(watch.mounts.calls()[0].data, "codepage=437,iocharset=utf8,shortname=mixed,errors=remount-ro");
        ASSERT_TRUE(watch.recorder.waitForPresence(1));
        EXPECT_EQ(watch.recorder.presence(), std::vector<bool>{true});

        QString point;
        ASSERT_TRUE(HotPlug::getMountPoint("sda1", point));
        EXPECT_EQ(point, "/media/sda1");
        ASSERT_TRUE(HotPlug::getMountPoint("sdb1", point));
        EXPECT_EQ(point, "");

        watch.sender.send("remove", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(2));
        events = watch.recorder.usb();
        EXPECT_EQ(events[1].dev, "sda1");
        EXPECT_EQ(events[1].action, DEV_ACTION_REMOVE);
        EXPECT_EQ(events[1].mountDir, "");
        EXPECT_FALSE(mounted("sda1"));
        EXPECT_FALSE(fileExists(rootPath("/media/sda1")));
        ASSERT_TRUE(watch.recorder.waitForPresence(2));
        EXPECT_EQ(watch.recorder.presence(), (std::vector<bool>{true, false}));
    });
}

TEST(HotPlugDisk, ASecondAddReportsTheExistingMountAndARemoveOfNothingIsAnnounced)
{
    RUN_IN_TEST_NAMESPACES([] {
        DiskWatch watch;
        // Mounted at start-up, as the main window does for disks already present.
        QString dir;
        ASSERT_TRUE(HotPlug::mount("sdb1", dir));
        EXPECT_EQ(dir, "/media/sdb1");
        ASSERT_TRUE(watch.hotPlug.start());
        watch.sender.send("add", usbBlockPath("sdb", "sdb1"));
        watch.sender.send("remove", usbBlockPath("sdc", "sdc1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(2));
        const auto events = watch.recorder.usb();
        EXPECT_EQ(events[0].mountDir, "/media/sdb1");
        EXPECT_EQ(watch.mounts.calls().size(), 1u); // not mounted a second time
        EXPECT_EQ(events[1].dev, "sdc1");
        EXPECT_EQ(events[1].action, DEV_ACTION_REMOVE);
        EXPECT_EQ(events[1].mountDir, "");
        ASSERT_TRUE(watch.recorder.waitForPresence(2));
        // sdb1 is still mounted: the engine is told a disk is there.
        EXPECT_EQ(watch.recorder.presence(), (std::vector<bool>{true, true}));
        EXPECT_TRUE(mounted("sdb1"));
    });
}

TEST(HotPlugDisk, ABurstOfUeventsLosesNothing)
{
    RUN_IN_TEST_NAMESPACES([] {
        DiskWatch watch;
        ASSERT_TRUE(watch.hotPlug.start());
        // A disk of many partitions, among the kernel's events for its other objects.
        for (int i = 1; i <= 200; ++i) {
            watch.sender.send("add", "/devices/platform/soc/ehci/usb1/1-1/1-1:1." + std::to_string(i));
            watch.sender.send("add", usbBlockPath("sdd", "sdd" + std::to_string(i)));
        }
        ASSERT_TRUE(watch.recorder.waitForUsb(200, 30000)) << watch.recorder.usb().size();
        for (int i = 1; i <= 200; ++i)
            EXPECT_TRUE(mounted("sdd" + std::to_string(i))) << i;
    });
}

TEST(HotPlugDisk, LostUeventsAreMadeUpByARescan)
{
    RUN_IN_TEST_NAMESPACES([] {
        Gate burstSent;
        int calls = 0; // on the watcher's thread only
        DiskWatch watch;
        Gate::OpenAtEnd openAtEnd{burstSent};
        // The first disk event holds the watcher up until the burst has
        // overflowed its buffer, however long sending the burst takes.
        watch.hotPlug.setDiskPresenceHandler([&](bool) {
            if (calls++ == 0)
                burstSent.wait();
        });
        testsupport::makeDirs(rootPath("/dev"));
        testsupport::writeFile(rootPath("/dev/sdf1"), "");
        testsupport::writeFile(rootPath("/dev/sdg1"), "");
        QString dir;
        ASSERT_TRUE(HotPlug::mount("sdh1", dir)); // its device is gone: the removal was lost
        ASSERT_TRUE(watch.hotPlug.start());
        watch.sender.send("add", usbBlockPath("sdf", "sdf1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(1));
        for (int i = 0; i < 20000; ++i)
            watch.sender.send("change", "/devices/virtual/misc/noise" + std::to_string(i));
        burstSent.open();
        // Each change is announced once it is made: wait for both announcements.
        bool announcedAdd = false;
        bool announcedRemove = false;
        testsupport::eventually(
            [&] {
                for (const auto& event : watch.recorder.usb()) {
                    announcedAdd |= event.dev == "sdg1" && event.action == DEV_ACTION_ADD && event.mountDir == "/media/sdg1";
                    announcedRemove |= event.dev == "sdh1" && event.action == DEV_ACTION_REMOVE;
                }
                return announcedAdd && announcedRemove;
            },
            30000);
        EXPECT_TRUE(announcedAdd);
        EXPECT_TRUE(announcedRemove);
        EXPECT_TRUE(mounted("sdg1")) << mountTable();
        EXPECT_FALSE(mounted("sdh1")) << mountTable();
        EXPECT_TRUE(mounted("sdf1")) << mountTable();
    });
}

TEST(HotPlugDisk, ABusyMountIsDetachedAndTheNextDiskMounts)
{
    RUN_IN_TEST_NAMESPACES([] {
        DiskWatch watch;
        ASSERT_TRUE(watch.hotPlug.start());
        watch.sender.send("add", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(1));
        // A model still open while the disk is pulled.
        const int open = ::open(rootPath("/media/sda1/model.qds").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        ASSERT_GE(open, 0);
        watch.sender.send("remove", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(2));
        EXPECT_FALSE(mounted("sda1"));
        EXPECT_FALSE(fileExists(rootPath("/media/sda1")));
        watch.sender.send("add", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(3));
        EXPECT_EQ(watch.recorder.usb()[2].mountDir, "/media/sda1");
        EXPECT_TRUE(mounted("sda1"));
        EXPECT_FALSE(fileExists(rootPath("/media/sda1/model.qds"))); // a fresh mount
        close(open);
    });
}

TEST(HotPlugDisk, AFailedMountIsNotAnnouncedAndADiskStillMountedStaysPresent)
{
    RUN_IN_TEST_NAMESPACES([] {
        DiskWatch watch;
        watch.mounts.failMounts("/dev/sde1", EINVAL);
        ASSERT_TRUE(watch.hotPlug.start());
        watch.sender.send("add", usbBlockPath("sde", "sde1"));
        watch.sender.send("add", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(1));
        ASSERT_TRUE(watch.recorder.waitForPresence(2));
        EXPECT_EQ(watch.recorder.usb()[0].dev, "sda1");
        EXPECT_EQ(watch.recorder.presence(), (std::vector<bool>{false, true}));
        EXPECT_FALSE(fileExists(rootPath("/media/sde1")));

        // With sda1 mounted, a partition that cannot be mounted and another
        // disk come and go: the disk is still there, until sda1 goes too.
        watch.sender.send("add", usbBlockPath("sde", "sde1"));
        watch.sender.send("add", usbBlockPath("sdb", "sdb1"));
        watch.sender.send("remove", usbBlockPath("sdb", "sdb1"));
        watch.sender.send("remove", usbBlockPath("sda", "sda1"));
        ASSERT_TRUE(watch.recorder.waitForPresence(6));
        EXPECT_EQ(watch.recorder.presence(), (std::vector<bool>{false, true, true, true, true, false}));
    });
}

TEST(HotPlugDisk, TheStartUpScanAndTheWatcherNeverMountOnePartitionTwice)
{
    RUN_IN_TEST_NAMESPACES([] {
        DiskWatch watch;
        ASSERT_TRUE(watch.hotPlug.start());
        constexpr int kPartitions = 20;
        std::atomic<bool> go{false};
        std::vector<std::thread> scanners;
        for (int t = 0; t < 4; ++t)
            scanners.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                for (int i = 1; i <= kPartitions; ++i) {
                    QString dir;
                    HotPlug::mount(QString("sdk%1").arg(i), dir);
                }
            });
        go = true;
        for (int i = 1; i <= kPartitions; ++i)
            watch.sender.send("add", usbBlockPath("sdk", "sdk" + std::to_string(i)));
        for (std::thread& scanner : scanners)
            scanner.join();
        ASSERT_TRUE(watch.recorder.waitForUsb(kPartitions));
        EXPECT_EQ(watch.mounts.calls().size(), size_t(kPartitions));
        std::string table = mountTable();
        for (int i = 1; i <= kPartitions; ++i) {
            const std::string line = "/dev/sdk" + std::to_string(i) + " ";
            EXPECT_EQ(table.find(line), table.rfind(line)) << line; // listed once
        }
    });
}

TEST(HotPlugDisk, TheEngineIsToldOfEveryDiskEventAndBeepsForADiskPulledMidPrint)
{
    RUN_IN_TEST_NAMESPACES([] {
        sim::SimMachine& machine = sim::SimMachine::boot(sim::SimMachine::Options());
        WaitRecordingClock clock(machine.clock());
        ScopedPlatform clockInstalled(&clock);
        testsupport::makeDirs(rootPath("/data/var"));
        LogWriter::instance()->init("/data/var", "HotPlugEngine", 0, 1 << 20, 2, false);
        Printer* printer = Printer::instance();
        TmpfsMounts mounts;
        HotPlug hotPlug; // nobody binds a handler: the watcher tells the engine itself
        Recorder recorder(hotPlug, true);
        UeventSender sender;
        ASSERT_TRUE(hotPlug.start());

        auto plugAndPull = [&](size_t before) {
            sender.send("add", usbBlockPath("sda", "sda1"));
            ASSERT_TRUE(recorder.waitForUsb(before + 1));
            EXPECT_TRUE(testsupport::eventually([&] { return printer->isExistUdisk(); }, 10000));
            sender.send("remove", usbBlockPath("sda", "sda1"));
            ASSERT_TRUE(recorder.waitForUsb(before + 2));
            EXPECT_TRUE(testsupport::eventually([&] { return !printer->isExistUdisk(); }, 10000));
        };
        plugAndPull(0);
        EXPECT_EQ(0, clock.waitsOf(Buzzer::kLongMs)); // idle: no beep
        printer->setPrintStatus(PrintStatus::Printing);
        plugAndPull(2);
        EXPECT_TRUE(testsupport::eventually([&] { return clock.waitsOf(Buzzer::kLongMs) == 1; }, 10000));
        printer->setPrintStatus(PrintStatus::Ready);

        std::vector<std::string> told;
        for (const std::string& line :
             testsupport::splitLines(testsupport::readFile(rootPath("/data/var/HotPlugEngine.log"))))
            if (line.find("setIsExistUdisk :") != std::string::npos)
                told.push_back(line.substr(line.find("setIsExistUdisk :")));
        EXPECT_EQ(told, (std::vector<std::string>{"setIsExistUdisk :1", "setIsExistUdisk :0", "setIsExistUdisk :1",
                                                  "setIsExistUdisk :0"}));
    });
}

TEST(HotPlugDisk, PartitionNamesMustLookLikeOnes)
{
    TmpfsMounts mounts;
    QString dir = "old";
    for (const char* bad : {"../etc", "sda", "sda1/../../x", "sda1 ", "mmcblk0p1", "sdaa1", "SDA1"}) {
        EXPECT_FALSE(HotPlug::mount(bad, dir)) << bad;
        EXPECT_FALSE(HotPlug::unmount(bad)) << bad;
        EXPECT_FALSE(HotPlug::getMountPoint(bad, dir)) << bad;
    }
    EXPECT_TRUE(mounts.calls().empty());
    EXPECT_FALSE(fileExists(rootPath("/media")));
    // Nothing to do for no name at all.
    EXPECT_TRUE(HotPlug::mount("", dir));
    EXPECT_TRUE(HotPlug::unmount(""));
}

TEST(HotPlugDisk, AThrowingHandlerDoesNotEndTheWatcher)
{
    RUN_IN_TEST_NAMESPACES([] {
        DiskWatch watch;
        watch.hotPlug.setDiskPresenceHandler([](bool) { throw std::runtime_error("engine not ready"); });
        ASSERT_TRUE(watch.hotPlug.start());
        watch.sender.send("add", usbBlockPath("sda", "sda1"));
        watch.sender.send("add", usbBlockPath("sdb", "sdb1"));
        ASSERT_TRUE(watch.recorder.waitForUsb(2));
        EXPECT_TRUE(mounted("sdb1"));
    });
}
