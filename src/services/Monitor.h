#pragma once

#include "services/DevAction.h"
#include "services/HotPlug.h"

#include <QObject>
#include <QString>

// The main window's view of hot-plug events: owns the watcher, receives its
// raw events in the thread it lives in (the GUI thread) and re-emits them as
// a mount directory and as an interface's link state.
class Monitor : public QObject
{
    Q_OBJECT

public:
    explicit Monitor(QObject* parent = nullptr);
    ~Monitor() override;

    bool start();
    bool stop();
    // Replaces what the watcher tells of the disks after every disk event, on
    // its thread (by default the engine's printer).
    void setDiskPresenceHandler(HotPlug::DiskPresenceHandler handler);

signals:
    // The mount directory of a new disk; empty when a disk was removed.
    void emit_GetUsb(QString name);
    // An interface and whether its carrier is present.
    void emit_GetEth(QString name, bool status);

public slots:
    void ethNotifyEvent(QString dev, dev_action_t status);
    void usbNotifyEvent(QString dev, dev_action_t status, QString mountDir);

private:
    HotPlug* m_hotPlug;
};
