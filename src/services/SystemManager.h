#pragma once

#include "base/config/NetStatus.h"
#include "nvupserver/UpdateServer.h"
#include "nvupserver/UpdateTypes.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QTranslator;

Q_DECLARE_METATYPE(nvupserver::PackageUpdateInfo)
Q_DECLARE_METATYPE(nvupserver::PackageInfoList)
Q_DECLARE_METATYPE(nvupserver::PackageType)
Q_DECLARE_METATYPE(std::string)

// The process-wide facts of the machine for the pages, the main window, the
// remote link and the service threads: installed versions, identity, the
// user-interface language, the USB-disk path and network status (held by the
// one SystemState and forwarded from here), and the update-service client.
//
// Created on first use (on the GUI thread during start-up) and kept until
// exit. The version, identity and language operations run on the GUI thread;
// the update callbacks run on the client's threads and reach receivers as
// queued signals.
//
// The operations live in several files by concern: SystemManager.cpp (the
// object, state and small system operations), SystemManagerVersions.cpp
// (versions and identity), SystemManagerLanguage.cpp (translations and the
// model-range check), SystemManagerUpdate.cpp (update operations),
// SystemManagerNetwork.cpp (network status, Wi-Fi passwords, time, pipes).
class SystemManager : public QObject
{
    Q_OBJECT

public:
    typedef std::map<nvupserver::PackageType, nvupserver::PackageInfo> PackageMap;

    static SystemManager* instance();

    // --- State shared with the engine and helpers (any thread) ---
    QString usbPath() const;
    QString language() const;
    QString codePage() const;
    NetStatus netStatus() const;
    void setUsbPath(const QString& path);

    // --- Versions and identity ---
    QString firmwareVersion() const;
    QString libraryVersion() const;
    QString kernelVersion() const;
    QString hardwareVersion() const;
    // With refresh, the engine logs the display controller's versions first.
    QString controlVersion(bool refresh);
    void getVersion(nvupserver::PackageType type, nvupserver::PkgVersionInfo& info);
    nvupserver::PkgVersionInfo hardwareVersionInfo();
    QString getMemSize();
    QString getKernelRevision();
    QString getCPUSerial();
    void getUniqueID(std::string& serial, QString& cpuSerial);
    void setMachineIdentity();
    std::string uniqueId() const;

    // --- Language ---
    // 0 loaded, -1 failed (the current translation stays in force).
    int loadLanguage(const QString& locale);

    // --- Small system operations ---
    QString factoryFlagFile() const;
    bool isModelOutOfRange(const QString& path);
    void dropCaches();
    int startDebugServices();
    void emptyHook(std::string);
    QString machineSizeText() const;
    QString printFileVersion() const;
    void setPrintFileVersion(const QString& version);
    void setMachineName(QString name);

    // --- Update operations ---
    // True when the check was started; false also while an earlier check still runs.
    bool checkUpdate(bool autoDownload);
    // 0 started, -1 refused.
    int downloadPackages();
    int stopDownload();
    int updatePackageCount() const;
    bool isDownloaded() const;
    PackageMap packageInfoList() const;
    nvupserver::PackageUpdateInfo serverVersionInfo() const;
    // The client itself, for choosing its servers and trusted authorities.
    nvupserver::UpdateServer& updateServer() { return *m_updateServer; }

    // --- Network status, Wi-Fi passwords, time and process-manager pipes ---
    // (SystemManagerNetwork.cpp)
    // Any thread. Announces the change (new, previous) before storing it;
    // status 0 first stops the network services. Other values change nothing.
    void setNetStatus(const QString& info, NetStatus status);
    // The information texts last given for the Ethernet and Wi-Fi links.
    QString ethInfo() const;
    QString wlanInfo() const;
    // The IPv4 address of the interface of the current status; empty without one.
    QString currentIp() const;
    // Each answers false (logged) when the password file could not be
    // written or the name addresses no entry; the store is then as it was.
    bool saveWifiPassword(const std::string& ssid, const QString& password);
    bool removeWifiPassword(const std::string& ssid);
    // Empty when none is stored.
    QString loadWifiPassword(const std::string& ssid);
    // Sets the clock from the first time server that answers: 0, or -1 when
    // none answered or the clock could not be set.
    int syncNtpTime();
    // Replaces the time servers, tried in order.
    void setNtpServers(const std::vector<std::string>& servers);
    std::vector<std::string> ntpServers() const;
    // Writes the system time to the hardware clock: the tool's status, or
    // errno when there is no hardware clock.
    int writeRtc();
    // 0 written, -1 not opened or not written whole.
    int writeProcessManager(const QString& cmd);
    // The shell runner's status for the command, or -1.
    int ipcSystem(const std::string& cmd);

signals:
    void sig_usbPathChanged(QString usbPath);
    void sig_languageChanged();
    void sig_machineNameChange(QString name);
    void sig_netStatusChanged(NetStatus type, NetStatus preType);
    void sig_downloadProgress(nvupserver::PackageType type, double total, double now);
    void sig_downloadErr(int code, std::string msg);
    void sig_downloadedMsg(QString msg);
    void sig_downloadedRet(bool ret);
    void sig_checkUpdate(bool ret);

private:
    SystemManager();
    ~SystemManager() override;

    void useLanguage(const QString& locale, const QString& codePage);

    // Update-client callbacks; they run on the client's threads.
    void onUpdateInfo(nvupserver::PackageUpdateInfo info);
    void onDownloadProgress(nvupserver::PackageType type, double total, double now);
    void onDownloadError(int code, const std::string& msg);
    void onDownloadResult(int ret, const std::string& msg);

    // Splits a version text into major, minor and patch: false (all 0) unless
    // it gives exactly three numbers.
    static bool splitVersion(const QString& text, nvupserver::PkgVersionInfo& info);
    // The name of the newest version folder under a path of the table.
    static QString installedVersion(int pathId);
    static QString leadingVersion(const QString& name);

    std::string m_uniqueId;
    std::unique_ptr<nvupserver::UpdateServer> m_updateServer;

    // Written on the client's threads, read on the GUI thread: published
    // under m_updateMutex and handed out as copies.
    mutable std::mutex m_updateMutex;
    nvupserver::ClientInfo m_clientInfo;
    nvupserver::PackageUpdateInfo m_updateInfo;
    PackageMap m_packageList;
    int m_packageCount = 0;
    bool m_autoDownload = false;
    bool m_downloaded = false;
    bool m_downloading = false;                       // a download of ours is under way
    std::vector<nvupserver::PackageType> m_downloadTypes; // the packages of that download

    QTranslator* m_translator = nullptr;
    QHash<QString, QString> m_codePages;

    QString m_firmwareVersion;
    QString m_libraryVersion;
    QString m_controlVersion;
    QString m_kernelVersion;
    QString m_hardwareVersion;
    QString m_printFileVersion;

    // --- Network information (SystemManagerNetwork.cpp) ---
    static std::vector<std::string> defaultNtpServers();
    // setNetStatus runs on the GUI thread and on worker threads. Recursive,
    // so that a receiver called directly may set the status again.
    mutable std::recursive_mutex m_netMutex;
    QString m_wlanInfo;
    QString m_ethInfo;
    std::vector<std::string> m_ntpServers = defaultNtpServers();
};

// The text's ASCII form (Latin-1 bytes).
std::string toStdString(const QString& text);
