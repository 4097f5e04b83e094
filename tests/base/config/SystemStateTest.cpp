// The system state: USB path with its signal, language and code page,
// network status, and the network enums as queued-signal types.
#include "base/config/ConfigStore.h"
#include "base/config/SystemState.h"

#include <gtest/gtest.h>

#include <QMetaType>
#include <QStringList>

#include <atomic>
#include <thread>

TEST(SystemStateTest, StartsFromTheConfiguration)
{
    ConfigStore::instance()->m_general.Language = "ja_JP";
    SystemState* state = SystemState::instance();
    EXPECT_EQ(state, SystemState::instance());
    EXPECT_EQ("437", state->codePage());
    EXPECT_EQ("ja_JP", state->language());
    EXPECT_EQ("", state->usbPath());
    EXPECT_EQ(NET_DISCONNECTED, state->netStatus());

    state->setCodePage("936");
    EXPECT_EQ("936", state->codePage());
    EXPECT_EQ(NET_DISCONNECTED, state->exchangeNetStatus(NET_WIFI));
    EXPECT_EQ(NET_WIFI, state->exchangeNetStatus(NET_HOTSPOT));
    EXPECT_EQ(NET_HOTSPOT, state->netStatus());
}

TEST(SystemStateTest, UsbPathSignalsOnlyChanges)
{
    SystemState* state = SystemState::instance();
    QStringList seen;
    QObject::connect(state, &SystemState::sig_usbPathChanged, [&seen](QString path) { seen << path; });
    state->setUsbPath("/media/sda1");
    state->setUsbPath("/media/sda1");
    state->setUsbPath("");
    state->setUsbPath("");
    EXPECT_EQ((QStringList{"/media/sda1", ""}), seen);
}

TEST(SystemStateTest, NetEnumsAreQueuedSignalTypes)
{
    SystemState::instance();
    EXPECT_EQ(qMetaTypeId<NetStatus>(), QMetaType::type("NetStatus"));
    EXPECT_EQ(qMetaTypeId<NetStatus>(), QMetaType::type("NetType"));
    EXPECT_EQ(qMetaTypeId<NetResult>(), QMetaType::type("NetResult"));
    EXPECT_EQ(2, int(NET_ETH_STATIC));
    EXPECT_EQ(2, int(NET_RESULT_TIMEOUT));
}

TEST(SystemStateTest, ReadersOnOtherThreadsSeeWholeValues)
{
    SystemState* state = SystemState::instance();
    const QString a = "/media/sda1", b = "/media/usb-disk-with-a-longer-name";
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const QString path = state->usbPath();
            if (path != a && path != b && !path.isEmpty())
                ++torn;
            const QString page = state->codePage();
            if (page != "437" && page != "936")
                ++torn;
        }
    });
    for (int i = 0; i < 20000; ++i) {
        state->setUsbPath(i % 2 ? a : b);
        state->setCodePage(i % 2 ? "437" : "936");
    }
    stop = true;
    reader.join();
    EXPECT_EQ(0, torn.load());
}
