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

using hotplugpeers::run;
using hotplugpeers::UeventSender;
using hotplugpeers::usbBlockPath;

namespace {

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
        int argc = 1;
        char name[] = "services_tests";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
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
        ASSERT_TRUE(processEventsUntil([&] { return disks.size() == 2 && links.size() >= 2; }));
        EXPECT_EQ(disks[1], "");
        EXPECT_EQ(links.back(), std::make_pair(QString("eth0"), false));
        EXPECT_FALSE(otherThread);
        EXPECT_EQ(told.load(), 2);
        EXPECT_TRUE(monitor.stop());
    }));
}
