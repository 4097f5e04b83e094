// The network jobs of the worker: Wi-Fi scan, station join, hotspot,
// Ethernet and NTP time.
#include "services/WorkThread.h"

#include "services/WifiConfigText.h"
#include "services/WifiScanner.h"

#include "base/config/PathManager.h"
#include "base/files/DurableFile.h"
#include "base/files/Utils.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/net/NetUtils.h"
#include "base/platform/Clock.h"
#include "base/platform/TimedRun.h"

#include <QDebug>
#include <QFile>

#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

// One network job at a time in the whole process: two jobs reconfiguring
// the same interfaces at once would undo each other's work.
std::mutex& networkLock()
{
    static std::mutex lock;
    return lock;
}

// How often a job waiting for the lock tries it again; a stop wakes it at once.
constexpr int kLockRetryMs = 20;

// Configuration files hold passwords.
constexpr mode_t kSecretFileMode = 0600;

QString fsText(const QString& boardPath)
{
    return QString::fromStdString(Utils::fsPath(boardPath));
}

// The content of a file, or false when there is none to read.
bool readWhole(const QString& boardPath, QByteArray* content)
{
    QFile file(fsText(boardPath));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return file.error() == QFile::NoError;
}

// A network name for a log line: control characters would start lines of their own.
QString printable(QString text)
{
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = '?';
    return text;
}

} // namespace

int WorkThread::runNetworkJob(int job)
{
    std::unique_lock<std::mutex> lock(networkLock(), std::try_to_lock);
    for (; !lock.owns_lock(); lock.try_lock()) {
        if (!m_stop.sleepUntil(kernelDeadlineAfterMs(kLockRetryMs))) {
            logger()->write(LogWarn, "WorkThread: job %d stopped before it could begin", job);
            if (job == JOB_NTP_TIME)
                return -1;
            m_timedOut = false;
            return reportConnect(false);
        }
    }
    switch (job) {
    case JOB_WIFI_CONFIG:
        return writeWpaConfig(m_ssid, m_password, m_security);
    case JOB_WIFI_CONNECT:
        return connectWifi();
    case JOB_HOTSPOT:
        return startHotspot(m_ssid, m_password);
    case JOB_ETHERNET:
        return connectEthernet();
    case JOB_NTP_TIME:
        return updateNTPTime();
    default:
        return -1;
    }
}

int WorkThread::reportConnect(bool ok)
{
    emit sig_NetConnectResult(ok ? NET_RESULT_OK : m_timedOut ? NET_RESULT_TIMEOUT : NET_RESULT_ERROR, m_netType);
    return ok ? 0 : -1;
}

int WorkThread::wifiScan()
{
    runCommand("ifconfig wlan0 up");
    WifiScanner scanner(rootPath("/sbin/iwlist"), "wlan0");
    std::list<wifi_ap_t> list;
    int result = scanner.scanWifi(list);
    // The scanner has limits of its own and no stop: a stopped job does not scan twice.
    if (list.empty() && !m_stop.raised())
        result = scanner.scanWifi(list);
    emit sig_wifiListDetected(result, list);
    return result;
}

int WorkThread::writeWpaConfig(const QString& ssid, const QString& password, const QString& security)
{
    LogWriter* log = logger();
    std::string text, why;
    m_timedOut = false;
    if (!stationConfigText(ssid, password, security, &text, &why)) {
        log->write(LogError, "writeWpaConfig: %s", why.c_str());
        return reportConnect(false);
    }
    log->write(LogDebug, "wifiName=" + printable(ssid) + "  pass=" + (password.isEmpty() ? "" : "********"));

    // The last good file comes back when this one does not bring the network up.
    const QString path = PathManager::instance()->get(PATH_WIFI_CFG);
    QByteArray previous;
    const bool hadPrevious = readWhole(path, &previous);
    const int written = durable::replaceFile(path.toStdString(), text, kSecretFileMode);
    if (written != 0) {
        log->write(LogError, "writeWpaConfig: %s not written: %s", path.toUtf8().constData(), strerror(-written));
        return reportConnect(false);
    }
    const bool ok = joinWifi();
    if (!ok) {
        if (hadPrevious)
            durable::replaceFile(path.toStdString(), previous.toStdString(), kSecretFileMode);
        else
            Utils::removeFile(path);
    }
    return reportConnect(ok);
}

int WorkThread::connectWifi()
{
    return reportConnect(joinWifi());
}

bool WorkThread::joinWifi()
{
    disconnectNetwork();
    m_timedOut = false;
    const QString daemon =
        QString("wpa_supplicant -d -Dwext -i wlan0 -c %1 -B").arg(fsText(PathManager::instance()->get(PATH_WIFI_CFG)));
    qDebug() << "wifiConnect =" << daemon;
    bool ok = runCommand("ifconfig wlan0 up") == 0 && runCommand(daemon) == 0;
    if (ok)
        ok = runCommand("udhcpc -i wlan0") == 0 || runCommand("udhcpc -i wlan0") == 0;
    // The configuration stays: a network that is away now may be back at the next start.
    if (!ok)
        Utils::disableWiFi();
    return ok;
}

int WorkThread::startHotspot(const QString& ssid, const QString& password)
{
    LogWriter* log = logger();
    std::string text, why;
    m_timedOut = false;
    if (!hotspotConfigText(ssid, password, &text, &why)) {
        log->write(LogError, "startHotspot: %s", why.c_str());
        return reportConnect(false);
    }
    disconnectNetwork();
    runCommand("ifconfig wlan0 up");
    qDebug() << "hotspot info: ssid(" << ssid << "), password(" << masked(password) << ")";

    const QString path = Utils::joinPath(PathManager::instance()->get(PATH_TMP), "hostapd.conf");
    const int written = durable::replaceFile(path.toStdString(), text, kSecretFileMode);
    if (written != 0) {
        log->write(LogError, "startHotspot: %s not written: %s", path.toUtf8().constData(), strerror(-written));
        return reportConnect(false);
    }

    m_timedOut = false;
    const QString daemon = QString("hostapd %1 -B").arg(fsText(path));
    qDebug() << daemon;
    const bool ok = runCommand("ifconfig wlan0 up") == 0 && runCommand("ifconfig wlan0 192.168.0.1") == 0 &&
                    runCommand("udhcpd " + fsText("/etc/udhcpd.conf")) == 0 && runCommand(daemon) == 0;
    if (!ok)
        Utils::disableWiFiAP();
    return reportConnect(ok);
}

int WorkThread::connectEthernet()
{
    disconnectNetwork();
    QString address;
    if (m_netType == NET_ETH_DHCP)
        address = "udhcpc -i eth0";
    else if (m_netType == NET_ETH_STATIC)
        address = "ifconfig eth0 10.33.23.230 netmask 255.255.255.0";
    m_timedOut = false;
    const bool ok = runCommand("ifconfig eth0 up") == 0 && runCommand(address) == 0;
    return reportConnect(ok);
}

int WorkThread::updateNTPTime()
{
    const int result = syncNtpTime();
    usleep(100);
    if (result != 0) {
        logger()->write(LogError, "%s failed", "updateNTPTime");
        return -1;
    }
    writeRtc();
    emit sig_syncNTPTimeFinished();
    return 0;
}
