#pragma once

#include "services/DevAction.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <set>

class HotPlugListener;

// Watches the kernel for USB-disk partitions coming and going and for
// Ethernet carrier changes. A partition that arrives is mounted under
// "/media/<partition>" and announced with that directory; one that leaves is
// unmounted and its directory removed. Signals are emitted from the listening
// thread; receivers in other threads get them queued.
//
// The mount operations are also static, for disks present at start-up and
// for unmounting at shutdown; one lock covers them and the listening thread,
// so a partition is never mounted twice.
class HotPlug : public QObject
{
    Q_OBJECT

public:
    // Told after every disk event whether any disk is mounted now.
    using DiskPresenceHandler = std::function<void(bool mounted)>;

    explicit HotPlug(QObject* parent = nullptr);
    ~HotPlug() override;

    // Opens the kernel sockets and starts the listening thread; true when it
    // runs (also when it already ran), false when it could not (logged).
    bool start();
    // Ends the listening thread, waits for it and closes its sockets; a later
    // start begins afresh. Always true.
    bool stop();

    // Replaces what is told of the disks; by default the engine's printer
    // (Printer::setIsExistUdisk). Called on the listening thread; an
    // exception it throws is logged and dropped.
    void setDiskPresenceHandler(DiskPresenceHandler handler);

    // Partition names are "sd" + letter + number ("sda1"); others are refused.
    // The mount point of a partition as the mount table gives it (empty when
    // not mounted); false when the table cannot be read or the name is bad.
    static bool getMountPoint(const QString& partition, QString& mountPoint);
    // Mounts "/dev/<partition>" as FAT on "/media/<partition>" unless it is
    // mounted already; the mount directory in `mountDir`. True on success.
    static bool mount(const QString& partition, QString& mountDir);
    // Unmounts the partition (lazily when it is busy) and removes its
    // directory; true on success or when nothing was mounted.
    static bool unmount(const QString& partition);

    void emitEthNotifyEvent(const QString& dev, dev_action_t status);
    // Mounts or unmounts, announces the change and tells the engine.
    void emitUsbNotifyEvent(const QString& partition, dev_action_t action);
    // After lost uevents: unmounts partitions whose device is gone and
    // mounts those present but not mounted, announcing each.
    void rescanPartitions();

signals:
    void ethNotifyEvent(QString dev, dev_action_t status);
    void usbNotifyEvent(QString dev, dev_action_t status, QString mountDir);

private:
    // The partitions of ours that the mount table lists as mounted (under
    // "/media"); false when the table cannot be read.
    static bool mountedPartitions(std::set<QString>& mounted);
    void tellDiskPresence(bool mounted);

    std::unique_ptr<HotPlugListener> m_listener;
    QString m_mountDir; // of the last disk event; only the listening thread writes it
    std::mutex m_handlerMutex;
    DiskPresenceHandler m_diskPresence;
};
