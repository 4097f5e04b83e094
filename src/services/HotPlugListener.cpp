#include "services/HotPlugListener.h"

#include "base/log/LogWriter.h"
#include "services/HotPlug.h"
#include "services/UeventHeader.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kStackSize = 1048576;
// Real RTM_NEWLINK messages are about 1.5 KiB and one read may hold several;
// a uevent is at most a few KiB.
constexpr size_t kReadSize = 64 * 1024;
// Enough for a burst of hundreds of uevents (one per partition and disk
// object) while the thread is busy mounting.
constexpr int kUeventBuffer = 1024 * 1024;
constexpr int kLinkBuffer = 256 * 1024;
constexpr time_t kDumpLimitS = 2; // for each part of the link dump

void setReceiveBuffer(int fd, int size)
{
    // Privileged processes may exceed the system's limit; others get what it allows.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

// A netlink socket bound to `groups` with a port id of the kernel's choice
// (two watchers in one process must not collide); -1 when it cannot be made.
int openNetlink(int type, int protocol, int bufferSize, const char* failure)
{
    const int fd = socket(AF_NETLINK, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
    if (fd < 0) {
        logger()->write(LogError, "%s, %d: %s", "HotPlugListener::open", __LINE__, strerror(errno));
        return -1;
    }
    setReceiveBuffer(fd, bufferSize);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_pid = 0;
    address.nl_groups = 1; // RTMGRP_LINK on the route socket, the kernel's events on the uevent socket
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        const int error = errno;
        printf(failure, strerror(error));
        logger()->write(LogError, failure, strerror(error));
        close(fd);
        return -1;
    }
    return fd;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

HotPlugListener::HotPlugListener(HotPlug& owner) : m_owner(owner), m_buffer(kReadSize) {}

HotPlugListener::~HotPlugListener()
{
    finish();
}

bool HotPlugListener::open()
{
    if (m_stop.fd() < 0)
        return false;
    m_linkFd = openNetlink(SOCK_RAW, NETLINK_ROUTE, kLinkBuffer, "bind to eth fd failed: %s\n");
    m_ueventFd = openNetlink(SOCK_DGRAM, NETLINK_KOBJECT_UEVENT, kUeventBuffer, "bind to usb fd failed: %s\n");
    if (m_linkFd < 0 || m_ueventFd < 0) {
        closeFd(m_linkFd);
        closeFd(m_ueventFd);
        return false;
    }
    learnLinks();
    return true;
}

// The carrier of every link as the watcher starts: only what changes after
// it is announced. The link socket is bound already, so no change falls
// between the dump and the first notification.
void HotPlugListener::learnLinks()
{
    for (const LinkEvent& link : dumpLinks())
        m_carrier.learn(link);
}

// Every link's state now, from a dump on a socket of its own; what it got
// when the dump could not be completed (logged, and `complete` false).
std::vector<LinkEvent> HotPlugListener::dumpLinks(bool* complete)
{
    if (complete)
        *complete = false;
    std::vector<LinkEvent> links;
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        logger()->write(LogError, "HotPlug: no link dump: %s", strerror(errno));
        return links;
    }
    const timeval limit{kDumpLimitS, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const std::string request = linkDumpRequest();
    const bool sent = send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size());
    bool ended = false;
    while (sent && !ended) {
        const ssize_t got = recv(fd, m_buffer.data(), m_buffer.size(), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (LinkEvent& link : parseLinkMessages(m_buffer.data(), static_cast<size_t>(got), &ended))
            links.push_back(std::move(link));
    }
    if (!ended)
        logger()->write(LogWarn, "HotPlug: link dump incomplete: %s", strerror(errno));
    else if (complete)
        *complete = true;
    close(fd);
    return links;
}

bool HotPlugListener::run()
{
    printf("%s stack_size = %dB, %dk\n", "bool HotPlug::start()", static_cast<int>(kStackSize),
           static_cast<int>(kStackSize / 1024));
    const int rc = start(false, kStackSize);
    if (rc != 0) {
        printf("start hotplug thread failed: %d\n", rc);
        logger()->write(LogError, "start hotplug thread failed: %d", rc);
        return false;
    }
    puts("start hotplug thread successfully");
    return true;
}

void HotPlugListener::finish()
{
    m_stop.raise();
    join();
    closeFd(m_linkFd);
    closeFd(m_ueventFd);
}

void* HotPlugListener::threadMain()
{
    pollfd fds[3] = {{m_stop.fd(), POLLIN, 0}, {m_linkFd, POLLIN, 0}, {m_ueventFd, POLLIN, 0}};
    for (;;) {
        for (pollfd& entry : fds)
            entry.revents = 0;
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            printf("poll error: %s\n", strerror(errno));
            PThread::msleep(100); // a lasting error must not spin
            continue;
        }
        if (fds[0].revents)
            break;
        try {
            if (fds[1].revents)
                readLinks();
            if (fds[2].revents)
                readUevents();
        } catch (const std::exception& error) {
            logger()->write(LogError, "HotPlug: event dropped: %s", error.what());
        }
    }
    return nullptr;
}

// Reads what one socket holds, message by message, until it is drained;
// `lost` is set when the kernel dropped messages for want of room.
template <typename Handle>
void HotPlugListener::drain(int fd, const char* failure, bool& lost, Handle handle)
{
    for (;;) {
        const ssize_t got = recv(fd, m_buffer.data(), m_buffer.size(), 0);
        if (got >= 0) {
            handle(static_cast<size_t>(got));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == ENOBUFS) {
            lost = true;
            continue;
        }
        if (errno != EAGAIN)
            printf(failure, strerror(errno));
        return;
    }
}

void HotPlugListener::announceLink(const LinkEvent& event)
{
    printf("%u: %s %s", event.index, event.up ? "up" : "down", event.name.c_str());
    if (event.master)
        printf(" [%u]", *event.master);
    putchar('\n');
    if (m_carrier.changed(event))
        emitLink(event);
}

void HotPlugListener::emitLink(const LinkEvent& event)
{
    if (event.name.empty())
        return;
    m_owner.emitEthNotifyEvent(QString::fromStdString(event.name), event.up ? DEV_ACTION_ADD : DEV_ACTION_REMOVE);
    puts(event.master ? "emitEthNotifyEvent successfully" : "emitEthNotifyEvent successfully_1");
}

void HotPlugListener::readLinks()
{
    bool lost = false;
    drain(m_linkFd, "read from ethfd failed: %s\n", lost, [this](size_t size) {
        for (const LinkEvent& event : parseLinkMessages(m_buffer.data(), size))
            announceLink(event);
    });
    if (!lost)
        return;
    // A plug or an unplug may be among the lost: what the links are now
    // tells. Messages queued meanwhile come later and end in the latest state.
    logger()->write(LogWarn, "HotPlug: link messages lost, reading the links again");
    bool complete = false;
    const std::vector<LinkEvent> links = dumpLinks(&complete);
    for (const LinkEvent& link : links)
        announceLink(link);
    // A link removed meanwhile (a USB adapter pulled) is not in the dump: it
    // went down with it. Only a whole dump tells what is gone.
    if (complete)
        for (const LinkEvent& gone : m_carrier.forgetAbsent(links))
            emitLink(gone);
}

void HotPlugListener::readUevents()
{
    bool lost = false;
    drain(m_ueventFd, "read from usbfd failed: %s\n", lost, [this](size_t size) {
        DiskEvent event;
        if (!parseUeventHeader(m_buffer.data(), size, event))
            return;
        m_owner.emitUsbNotifyEvent(event.partition, event.action);
        printf("emitUsbNotifyEvent successfully, dev: %s\n", event.partition.toUtf8().constData());
    });
    if (lost) {
        logger()->write(LogWarn, "HotPlug: uevents lost, checking the partitions again");
        m_owner.rescanPartitions();
    }
}
