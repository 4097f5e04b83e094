#pragma once

#include "base/config/NetStatus.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>

// The machine state that the engine, the shared helpers and the services all
// read: the mount path of the current USB disk, the user-interface language
// with its FAT code page, and the network status. One object for the whole
// process, created on first use and kept until exit.
//
// The system manager of the services builds on this object rather than
// holding a copy: it forwards its accessors here, re-emits
// sig_usbPathChanged, and changes the language, code page and network status
// through the setters below after doing its own work (loading a translator,
// stopping network services).
//
// Every accessor may be called from any thread: the strings are read under a
// lock and handed out as copies of their own (sharing no characters with the
// state), the status is a single atomic word.
class SystemState : public QObject
{
    Q_OBJECT

public:
    static SystemState* instance();

    QString usbPath() const;
    QString language() const;
    QString codePage() const;
    NetStatus netStatus() const { return m_netStatus.load(std::memory_order_acquire); }

    // Stores a new USB-disk path (empty: no disk) and announces it; an
    // unchanged path changes nothing and emits nothing.
    void setUsbPath(const QString& path);

    // For the language operations: the code page changes as soon as a
    // language is chosen, the language only once its translation is installed.
    void setCodePage(const QString& codePage);
    void setLanguage(const QString& language);
    // For the network operations: stores a status and returns the one it replaced.
    NetStatus exchangeNetStatus(NetStatus status);

signals:
    void sig_usbPathChanged(QString usbPath);

private:
    SystemState();
    ~SystemState() override;

    mutable std::mutex m_mutex; // guards the strings
    QString m_codePage;
    QString m_language;
    std::atomic<NetStatus> m_netStatus{NET_DISCONNECTED};
    QString m_usbPath;
};
