#pragma once

// The real peers of the hot-plug tests, for bodies run in the test's own
// namespaces: uevents sent on the namespace's kernel-uevent group, commands
// run on the namespace's interfaces, and a recorder of the watcher's signals.
#include "services/HotPlug.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <ostream>
#include <mutex>
#include <string>
#include <vector>

namespace hotplugpeers {

// Sends uevents to the listeners of this network namespace only.
class UeventSender
{
public:
    UeventSender();
    ~UeventSender();
    // A kernel-style message: header, zero, ACTION and DEVPATH variables.
    void send(const std::string& action, const std::string& devicePath);
    // Raw bytes as they are.
    void sendRaw(const std::string& bytes);

private:
    int m_fd = -1;
};

// A block device path as the kernel names a USB disk or its partition.
std::string usbBlockPath(const std::string& disk, const std::string& partition = "");

// Runs a shell command in the test's namespaces (refused outside them).
void run(const std::string& command);

struct UsbEvent
{
    QString dev;
    dev_action_t action;
    QString mountDir;
};

struct EthEvent
{
    QString dev;
    dev_action_t action;
};

// Records the watcher's signals as they are emitted on its thread, and what
// it tells of the disks in place of the engine unless `tellsEngine`.
class Recorder
{
public:
    explicit Recorder(HotPlug& hotPlug, bool tellsEngine = false);
    // Stops the watcher first: its thread calls into the recorder.
    ~Recorder();
    std::vector<UsbEvent> usb() const;
    std::vector<EthEvent> eth() const;
    std::vector<bool> presence() const;

    // Waits (generously) until `count` disk events were announced.
    bool waitForUsb(size_t count, int timeoutMs = 10000) const;
    bool waitForPresence(size_t count, int timeoutMs = 10000) const;
    // Waits until an event for `dev` with `action` was announced.
    bool waitForEth(const QString& dev, dev_action_t action, int timeoutMs = 10000) const;
    // How many events were announced for `dev` with `action`.
    int ethCount(const QString& dev, dev_action_t action) const;

private:
    HotPlug& m_hotPlug;
    mutable std::mutex m_mutex;
    std::vector<UsbEvent> m_usb;
    std::vector<EthEvent> m_eth;
    std::vector<bool> m_presence;
};

// Holds the watcher's thread (a slow mount) in a handler until it is
// opened. Declare it ahead of the watcher, whose thread may still wait in it
// while it stops, and an OpenAtEnd after the watcher: however the body ends,
// the watcher is let go before it is stopped.
class Gate
{
public:
    void wait();
    void open();

    struct OpenAtEnd
    {
        Gate& gate;
        ~OpenAtEnd() { gate.open(); }
    };

private:
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};

} // namespace hotplugpeers

// QStrings in assertion messages as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
