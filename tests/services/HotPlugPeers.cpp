#include "HotPlugPeers.h"

#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace hotplugpeers {

UeventSender::UeventSender()
{
    // Sending on the uevent group outside the test's network namespace would
    // reach the host's device manager.
    if (!testsupport::insideTestNamespaces()) {
        ADD_FAILURE() << "uevents are only sent inside the test's namespaces";
        return;
    }
    m_fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        ADD_FAILURE() << "uevent sender: " << strerror(errno);
}

UeventSender::~UeventSender()
{
    if (m_fd >= 0)
        close(m_fd);
}

void UeventSender::sendRaw(const std::string& bytes)
{
    if (m_fd < 0)
        return;
    sockaddr_nl group{};
    group.nl_family = AF_NETLINK;
    group.nl_groups = 1;
    if (sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&group), sizeof group) < 0)
        ADD_FAILURE() << "uevent send: " << strerror(errno);
}

void UeventSender::send(const std::string& action, const std::string& devicePath)
{
    std::string message = action + "@" + devicePath;
    message += '\0';
    message += "ACTION=" + action;
    message += '\0';
    message += "DEVPATH=" + devicePath;
    message += '\0';
    message += "SUBSYSTEM=block";
    message += '\0';
    sendRaw(message);
}

std::string usbBlockPath(const std::string& disk, const std::string& partition)
{
    std::string path = "/devices/platform/soc/ehci/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/" + disk;
    return partition.empty() ? path : path + "/" + partition;
}

void run(const std::string& command)
{
    if (!testsupport::insideTestNamespaces()) {
        ADD_FAILURE() << "refused outside the test's namespaces: " << command;
        return;
    }
    EXPECT_EQ(0, system(command.c_str())) << command;
}

Recorder::Recorder(HotPlug& hotPlug, bool tellsEngine) : m_hotPlug(hotPlug)
{
    QObject::connect(
        &hotPlug, &HotPlug::usbNotifyEvent, &hotPlug,
        [this](QString dev, dev_action_t action, QString mountDir) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_usb.push_back({dev, action, mountDir});
        },
        Qt::DirectConnection);
    QObject::connect(
        &hotPlug, &HotPlug::ethNotifyEvent, &hotPlug,
        [this](QString dev, dev_action_t action) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_eth.push_back({dev, action});
        },
        Qt::DirectConnection);
    if (tellsEngine)
        return;
    hotPlug.setDiskPresenceHandler([this](bool mounted) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_presence.push_back(mounted);
    });
}

Recorder::~Recorder()
{
    m_hotPlug.stop();
}

std::vector<UsbEvent> Recorder::usb() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_usb;
}

std::vector<EthEvent> Recorder::eth() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_eth;
}

std::vector<bool> Recorder::presence() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_presence;
}

bool Recorder::waitForUsb(size_t count, int timeoutMs) const
{
    return testsupport::eventually([&] { return usb().size() >= count; }, timeoutMs);
}

bool Recorder::waitForPresence(size_t count, int timeoutMs) const
{
    return testsupport::eventually([&] { return presence().size() >= count; }, timeoutMs);
}

bool Recorder::waitForEth(const QString& dev, dev_action_t action, int timeoutMs) const
{
    return testsupport::eventually([&] { return ethCount(dev, action) > 0; }, timeoutMs);
}

int Recorder::ethCount(const QString& dev, dev_action_t action) const
{
    int count = 0;
    for (const EthEvent& event : eth())
        count += event.dev == dev && event.action == action;
    return count;
}

void Gate::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_opened.wait(lock, [this] { return m_open; });
}

void Gate::open()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
    }
    m_opened.notify_all();
}

} // namespace hotplugpeers
