// SystemManager: network status, Wi-Fi passwords, time and the pipes to the
// companion processes.
#include "services/SystemManager.h"

#include "base/platform/Platform.h"
#include "services/ProcessPipes.h"
#include "services/SntpQuery.h"
#include "services/WifiPasswords.h"

#include "base/config/PathManager.h"
#include "base/config/SystemState.h"
#include "base/files/Folders.h"
#include "base/files/Utils.h"
#include "base/log/LogWriter.h"
#include "base/net/NetUtils.h"
#include "base/platform/SysIo.h"

#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>
#include <vector>

namespace {

const char* const kRtcDevice = "/dev/rtc0";
constexpr mode_t kSecretFileMode = 0600;
const char* const kWriteRtc = "hwclock  -w -u;";

QString passwordFile()
{
    return QString::fromStdString(Utils::fsPath(PathManager::instance()->get(PATH_WIFI_PASS)));
}

// Makes the password file readable by its owner only, creating it empty (in
// a folder only its owner may write) when `create` is set: the settings keep
// the permissions of the file they replace, so nothing is ever written to it
// for all to read. Files of older versions were readable by all.
void keepPasswordsPrivate(bool create)
{
    const QString path = passwordFile();
    const std::string file = path.toStdString();
    if (create) {
        const std::string folder = QFileInfo(path).absolutePath().toStdString();
        int made = folders::makeAll(folder, 0755);
        if (made == 0)
            made = folders::keepPrivate(folder);
        if (made < 0)
            logger()->write(LogError, "Wi-Fi password folder %s: %s", folder.c_str(), strerror(-made));
    }
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC | (create ? O_CREAT : 0), kSecretFileMode);
    if (fd < 0 && !create && errno == ENOENT)
        return;
    if (fd < 0 || fchmod(fd, kSecretFileMode) != 0)
        logger()->write(LogError, "Wi-Fi password file %s: %s", file.c_str(), strerror(errno));
    if (fd >= 0)
        close(fd);
}

// The settings key of a network; false (logged) for a name that addresses no entry.
bool passwordKey(const std::string& ssid, QString* key)
{
    *key = wifiPasswordKey(ssid);
    if (key->isEmpty()) {
        logger()->write(LogWarn, "Wi-Fi password: no network name");
        return false;
    }
    return true;
}

// Which file a path names; all zero when there is none.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator!=(const FileIdentity& other) const { return device != other.device || inode != other.inode; }
};

FileIdentity identityOf(const QString& path)
{
    struct stat info{};
    if (stat(path.toStdString().c_str(), &info) != 0)
        return FileIdentity();
    return {info.st_dev, info.st_ino};
}

// One change of the password file at a time: a change taken back after a
// failed write must not take back another's.
std::mutex g_passwordLock;

// Removes the entry of `key` alone: QSettings would also remove the entries
// under it, and "Lab" heads "Lab/5GHz", which older versions used as the key
// of another network.
void removeOnly(QSettings& settings, const QString& key)
{
    const QString head = key + QLatin1Char('/');
    std::vector<std::pair<QString, QVariant>> under;
    for (const QString& other : settings.allKeys())
        if (other.startsWith(head))
            under.emplace_back(other, settings.value(other));
    settings.remove(key);
    for (const auto& [other, value] : under)
        settings.setValue(other, value);
}

// Sets each key to its value (an invalid value removes it) and writes the
// file; changes already in place leave nothing to write. False, logged, when
// the file could not be written: the changes are then taken back, since
// QSettings keeps changes it could not write for the rest of the run, where
// later reads would show them as saved and a later write would store them
// after all.
bool changePasswords(const std::vector<std::pair<QString, QVariant>>& changes, const std::string& ssid,
                     const char* done)
{
    std::lock_guard<std::mutex> lock(g_passwordLock);
    QSettings settings(passwordFile(), QSettings::IniFormat);
    const FileIdentity old = identityOf(passwordFile());
    std::vector<std::pair<QString, QVariant>> before;
    bool toWrite = false;
    for (const auto& [key, value] : changes) {
        before.emplace_back(key, settings.value(key));
        toWrite = toWrite || before.back().second != value;
    }
    if (!toWrite)
        return true;
    for (const auto& [key, value] : changes) {
        if (value.isValid())
            settings.setValue(key, value);
        else
            removeOnly(settings, key);
    }
    settings.sync();
    // The write replaces the file whole, so a new file says it was written.
    // QSettings's status cannot tell: it keeps the first error it meets, and
    // it meets a bad line of a section it has not read yet only as it writes.
    if (identityOf(passwordFile()) != old)
        return true;
    for (auto it = before.rbegin(); it != before.rend(); ++it) {
        if (it->second.isValid())
            settings.setValue(it->first, it->second);
        else
            removeOnly(settings, it->first);
    }
    logger()->write(LogError, "Wi-Fi password of %s not %s: %s cannot be written", ssid.c_str(), done,
                    passwordFile().toStdString().c_str());
    return false;
}

// The information texts cross threads: the stored ones share no characters
// with the callers' strings, so only the lock orders who frees what.
QString ownCopy(const QString& text)
{
    return QString(text.constData(), text.size());
}

} // namespace

std::vector<std::string> SystemManager::defaultNtpServers()
{
    return {"pool.ntp.org",      "0.pool.ntp.org",    "1.pool.ntp.org",
            "2.pool.ntp.org",    "3.pool.ntp.org",    "europe.pool.ntp.org",
            "asia.pool.ntp.org", "north-america.pool.ntp.org", "time.nist.gov"};
}

void SystemManager::setNetStatus(const QString& info, NetStatus status)
{
    if (status < NET_DISCONNECTED || status > NET_HOTSPOT)
        return;
    if (status == NET_DISCONNECTED) {
        // Shell commands: run before taking the lock, so readers never wait on them.
        Utils::disableWiFiAP();
        Utils::disableWiFi();
        Utils::disableEth();
    }
    // One change at a time, so each announcement pairs the new status with
    // the one it replaces. Receivers in other threads get it queued.
    std::lock_guard<std::recursive_mutex> lock(m_netMutex);
    if (status == NET_DISCONNECTED) {
        m_wlanInfo.clear();
        m_ethInfo.clear();
    } else if (status == NET_ETH_DHCP || status == NET_ETH_STATIC) {
        m_ethInfo = ownCopy(info);
    } else {
        m_wlanInfo = ownCopy(info);
    }
    SystemState* state = SystemState::instance();
    emit sig_netStatusChanged(status, state->netStatus());
    state->exchangeNetStatus(status);
}

QString SystemManager::ethInfo() const
{
    std::lock_guard<std::recursive_mutex> lock(m_netMutex);
    return ownCopy(m_ethInfo);
}

QString SystemManager::wlanInfo() const
{
    std::lock_guard<std::recursive_mutex> lock(m_netMutex);
    return ownCopy(m_wlanInfo);
}

QString SystemManager::currentIp() const
{
    switch (netStatus()) {
    case NET_ETH_DHCP:
    case NET_ETH_STATIC:
        return Utils::getEthIP();
    case NET_WIFI:
    case NET_HOTSPOT:
        return Utils::getWlanIP();
    default:
        return QString();
    }
}

bool SystemManager::saveWifiPassword(const std::string& ssid, const QString& password)
{
    QString key;
    if (!passwordKey(ssid, &key))
        return false;
    keepPasswordsPrivate(true);
    return changePasswords({{key, wrapWifiPassword(password)}}, ssid, "saved");
}

bool SystemManager::removeWifiPassword(const std::string& ssid)
{
    QString key;
    if (!passwordKey(ssid, &key))
        return false;
    keepPasswordsPrivate(true);
    std::vector<std::pair<QString, QVariant>> changes = {{key, QVariant()}};
    // A forgotten network is forgotten in the form older versions stored too.
    const QString legacy = legacyWifiPasswordKey(ssid);
    if (!legacy.isEmpty())
        changes.emplace_back(legacy, QVariant());
    return changePasswords(changes, ssid, "forgotten");
}

QString SystemManager::loadWifiPassword(const std::string& ssid)
{
    QString key;
    if (!passwordKey(ssid, &key))
        return QString();
    keepPasswordsPrivate(false);
    QSettings settings(passwordFile(), QSettings::IniFormat);
    QVariant stored = settings.value(key);
    const QString legacy = legacyWifiPasswordKey(ssid);
    if (!stored.isValid() && !legacy.isEmpty())
        stored = settings.value(legacy);
    return unwrapWifiPassword(stored.toString());
}

void SystemManager::setNtpServers(const std::vector<std::string>& servers)
{
    std::lock_guard<std::recursive_mutex> lock(m_netMutex);
    m_ntpServers = servers;
}

std::vector<std::string> SystemManager::ntpServers() const
{
    std::lock_guard<std::recursive_mutex> lock(m_netMutex);
    return m_ntpServers;
}

int SystemManager::syncNtpTime()
{
    const std::vector<std::string> servers = ntpServers();
    for (size_t i = 0; i < servers.size(); ++i) {
        timeval now{};
        if (sntpQuery(servers[i].c_str(), &now) != 0) {
            printf("sync clock with %d[%s] failed\n", static_cast<int>(i), servers[i].c_str());
            continue;
        }
        const int rc = platform().clock().setWallTime(now);
        if (rc != 0) {
            // Reported, so that nobody writes a wrong time to the hardware clock.
            logger()->write(LogError, "%s, %d: %s", "syncNtpTime", __LINE__, strerror(-rc));
            printf("set system clock failed: %s\n", strerror(-rc));
            return -1;
        }
        char text[32] = "";
        const time_t seconds = now.tv_sec;
        ctime_r(&seconds, text);
        printf("update NTP Time..\n Now Systime Is [%s]", text);
        return 0;
    }
    return -1;
}

int SystemManager::writeRtc()
{
    SysIo& io = platform().io();
    const int fd = io.open(kRtcDevice, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        logger()->write(LogWarn, "%s", kRtcDevice);
        return error;
    }
    io.close(fd);
    return platform().shell().run(kWriteRtc);
}

int SystemManager::writeProcessManager(const QString& cmd)
{
    return processpipes::writeProcessManager(toStdString(cmd));
}

int SystemManager::ipcSystem(const std::string& cmd)
{
    return processpipes::ipcSystem(cmd);
}
