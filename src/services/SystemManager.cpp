#include "services/SystemManager.h"

#include "base/config/ConfigStore.h"
#include "base/config/SystemState.h"
#include "base/files/Utils.h"
#include "base/log/LogWriter.h"
#include "base/platform/Platform.h"

#include <QMetaType>
#include <QTranslator>

#include <cstdio>

namespace {

const char* const kDropCaches = "sync;echo 1 > /proc/sys/vm/drop_caches";
const char* const kSshDaemon = "/usr/sbin/sshd";
const char* const kTelnetRestart = "/etc/init.d/S50telnet  restart";

} // namespace

std::string toStdString(const QString& text)
{
    return text.toLatin1().toStdString();
}

SystemManager* SystemManager::instance()
{
    // Never destroyed: the update client's threads and other service threads
    // may still report while the process exits.
    static SystemManager* const manager = new SystemManager;
    return manager;
}

SystemManager::SystemManager() : QObject(nullptr)
{
    ConfigStore* config = ConfigStore::instance();
    m_updateServer.reset(new nvupserver::UpdateServer(10, config->m_general.TestNetFlag));

    qRegisterMetaType<nvupserver::PackageUpdateInfo>("nvupserver::PackageUpdateInfo");
    qRegisterMetaType<nvupserver::PackageInfoList>("nvupserver::PackageInfoList");
    qRegisterMetaType<nvupserver::PackageType>("nvupserver::PackageType");

    m_updateServer->setErrorCallback(
        [this](int code, const std::string& msg) { onDownloadError(code, msg); });

    setMachineIdentity();
    m_hardwareVersion = getMemSize();

    qRegisterMetaType<std::string>("std::string");
    m_codePages.insert("en_US", "437");
    m_codePages.insert("zh_CN", "936");
    m_codePages.insert("ja_JP", "936");

    std::string serial = config->m_serial;
    QString cpuSerial = getCPUSerial();
    getUniqueID(serial, cpuSerial);

    // One state for the whole process: its changes are ours.
    connect(SystemState::instance(), &SystemState::sig_usbPathChanged, this,
            &SystemManager::sig_usbPathChanged, Qt::DirectConnection);

    logger()->write(LogInfo, "Enter SystemManager");
}

SystemManager::~SystemManager()
{
    logger()->write(LogInfo, "Leave SystemManager");
    delete m_translator;
    m_updateServer.reset();
}

QString SystemManager::usbPath() const
{
    return SystemState::instance()->usbPath();
}

QString SystemManager::language() const
{
    return SystemState::instance()->language();
}

QString SystemManager::codePage() const
{
    return SystemState::instance()->codePage();
}

NetStatus SystemManager::netStatus() const
{
    return SystemState::instance()->netStatus();
}

void SystemManager::setUsbPath(const QString& path)
{
    SystemState::instance()->setUsbPath(path);
}

QString SystemManager::factoryFlagFile() const
{
    const QString usb = usbPath();
    if (usb.isEmpty())
        return QString();
    return Utils::joinPath(usb, "factory_flag");
}

void SystemManager::dropCaches()
{
    platform().shell().run(kDropCaches);
    printf("run: %s\n", kDropCaches);
}

int SystemManager::startDebugServices()
{
    printf("call [%s]\n", kSshDaemon);
    platform().shell().run(kSshDaemon);
    printf("call [%s]\n", kTelnetRestart);
    platform().shell().run(kTelnetRestart);
    return 0;
}

void SystemManager::emptyHook(std::string)
{
}

QString SystemManager::machineSizeText() const
{
    const PrinterConfig& printer = ConfigStore::instance()->m_printerConfig;
    return QString("%1x%2x%3")
        .arg(double(printer.Width) / 100, 0, 'g')
        .arg(double(printer.Height) / 100, 0, 'g')
        .arg(double(printer.ZLength) / 100, 0, 'g');
}

QString SystemManager::printFileVersion() const
{
    return m_printFileVersion;
}

void SystemManager::setPrintFileVersion(const QString& version)
{
    m_printFileVersion = version;
    logger()->write(LogInfo, "Print File Version: %s", toStdString(version).c_str());
}

void SystemManager::setMachineName(QString name)
{
    emit sig_machineNameChange(name);
}
