// The monitor re-emits the watcher's events in the thread it lives in.
#include "HotPlugPeers.h"

#include "services/Monitor.h"
#include "support/Sanitizers.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"
#include "support/TmpfsMounts.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <vector>

using hotplugpeers::run;
using hotplugpeers::UeventSender;
using hotplugpeers::usbBlockPath;

namespace {

int g_argc = 1;
char g_name[] = "services_tests";
char* g_argv[] = {g_name, nullptr};

// Runs the event loop until `condition` holds or a generous time passes.
bool processEventsUntil(const std::function<bool()>& condition)
{
    const long long deadline = testsupport::monotonicMs() + 10000;
    while (!condition()) {
        if (testsupport::monotonicMs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace

TEST(Monitor, EventsArriveInTheGuiThread)
{
    if (testsupport::kThreadSanitizer)
        GTEST_SKIP() << "Qt's cross-thread event queue is not instrumented: ThreadSanitizer cannot see its locking";
    // Parenthesised: the body holds commas outside brackets.
    RUN_IN_TEST_NAMESPACES(([] {
        QCoreApplication app(g_argc, g_argv);
        testsupport::TmpfsMounts mounts;
        run("ip link add eth0 type veth peer name peer0 && ip link set eth0 up");

        std::vector<QString> disks;
        std::vector<std::pair<QString, bool>> links;
        bool otherThread = false;
        std::atomic<int> told{0};
        Monitor monitor; // after what its handlers use, so it stops before they go
        QObject::connect(&monitor, &Monitor::emit_GetUsb, [&](QString dir) {
            otherThread |= QThread::currentThread() != app.thread();
            disks.push_back(dir);
        });
        QObject::connect(&monitor, &Monitor::emit_GetEth, [&](QString dev, bool up) {
            otherThread |= QThread::currentThread() != app.thread();
            if (dev != "peer0")
                links.emplace_back(dev, up);
        });
        monitor.setDiskPresenceHandler([&](bool) { ++told; });
        ASSERT_TRUE(monitor.start());

        UeventSender sender;
        sender.send("add", usbBlockPath("sda", "sda1"));
        run("ip link set peer0 up");
        ASSERT_TRUE(processEventsUntil([&] { return disks.size() == 1 && !links.empty(); }));
        EXPECT_EQ(disks[0], "/media/sda1");
        EXPECT_EQ(links[0].first, "eth0");
        EXPECT_TRUE(links[0].second);

        sender.send("remove", usbBlockPath("sda", "sda1"));
        run("ip link set peer0 down");
        // The disk handler is told after the event is posted.
        ASSERT_TRUE(processEventsUntil([&] { return disks.size() == 2 && links.size() >= 2 && told >= 2; }));
        EXPECT_EQ(disks[1], "");
        EXPECT_EQ(links.back(), std::make_pair(QString("eth0"), false));
        EXPECT_FALSE(otherThread);
        EXPECT_EQ(told.load(), 2);
        EXPECT_TRUE(monitor.stop());
    }));
}

TEST(Monitor, TheWatcherAndItsOwnerShareOnlyLockedState)
{
    // The watcher's thread calls the owner's disk handler and posts its
    // events while the owner replaces the handler and stops and starts the
    // watcher. The posted events are delivered only once the watcher has
    // stopped: the thread sanitizer, blind to Qt's queue, follows every step.
    RUN_IN_TEST_NAMESPACES(([] {
        QCoreApplication app(g_argc, g_argv);
        testsupport::TmpfsMounts mounts;
        std::vector<QString> disks;
        Monitor monitor;
        QObject::connect(&monitor, &Monitor::emit_GetUsb, [&](QString dir) { disks.push_back(dir); });
        std::atomic<int> told{0};
        std::atomic<int> mounted{0};
        auto handler = [&](bool present) {
            mounted += present ? 1 : -1;
            ++told;
        };
        UeventSender sender;
        int sent = 0;
        auto addAndRemove = [&] {
            for (const char* action : {"add", "remove"}) {
                sender.send(action, usbBlockPath("sda", "sda1"));
                monitor.setDiskPresenceHandler(handler); // replaced while the watcher may call it
                ++sent;
                ASSERT_TRUE(testsupport::eventually([&] { return told == sent; }, 10000)) << action;
            }
        };
        monitor.setDiskPresenceHandler(handler);
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(monitor.start());
            for (int i = 0; i < 3; ++i)
                addAndRemove();
            EXPECT_TRUE(monitor.stop());
        }
        EXPECT_EQ(0, mounted.load());

        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(12u, disks.size());
        for (size_t i = 0; i < disks.size(); ++i)
            EXPECT_EQ(i % 2 == 0 ? QString("/media/sda1") : QString(), disks[i]) << i;
    }));
}
