// Utils: stopping network services and reading interface addresses.
#include "base/net/NetUtils.h"
#include "base/platform/Platform.h"

#include <QDebug>
#include <QNetworkInterface>

namespace {

// Runs one command through the shell seam and reports it: the status is
// only reported, never acted on.
void runReported(const char* opening, const char* command)
{
    const int status = platform().shell().run(command);
    qCritical() << opening << command << "), RESULT(" << status << ")";
}

void runQuietly(const char* command)
{
    platform().shell().run(command);
}

} // namespace

int Utils::disableWiFi()
{
    qCritical() << "disableWiFi";
    runReported("Kill WPA: CMD(", "killall wpa_supplicant");
    runReported("Kill udhcpc: CMD(", "ps |grep 'wlan0'|grep -v 'grep'|awk '{print $1}'|xargs kill -9");
    runQuietly("ip addr flush dev wlan0");
    return 0;
}

int Utils::disableWiFiAP()
{
    qCritical() << "disableWiFiAP";
    runReported("Kill udhcpd : CMD(", "killall udhcpd ");
    runReported("Kill hostapd: CMD(", "killall hostapd");
    runQuietly("ip addr flush dev wlan0");
    return 0;
}

int Utils::disableEth()
{
    runReported("Kill udhcpc: CMD(", "ps |grep 'eth0'|grep -v 'grep'|awk '{print $1}'|xargs kill -9");
    runQuietly("ip addr flush dev eth0");
    return 0;
}

void Utils::restartEth()
{
    runReported("network: CMD(", "ifconfig eth0 down");
    runReported("network: CMD(", "ifconfig eth0 up");
}

QString Utils::getIP(const QString& interfaceName)
{
    QString address;
    QHostAddress ip;
    const QNetworkInterface interface = QNetworkInterface::interfaceFromName(interfaceName);
    if (interface.isValid() && (interface.flags() & QNetworkInterface::IsUp)) {
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        if (!entries.isEmpty())
            ip = entries.first().ip();
        address = ip.toString();
    }
    qCritical() << "[IP:" << address << "]";
    // Only an IPv4 address counts, told by its family: the text of an IPv6
    // address may hold an IPv4 one ("::ffff:10.9.8.7").
    return ip.protocol() == QAbstractSocket::IPv4Protocol ? address : QString();
}

QString Utils::getEthIP()
{
    return getIP("eth0");
}

QString Utils::getWlanIP()
{
    return getIP("wlan0");
}
