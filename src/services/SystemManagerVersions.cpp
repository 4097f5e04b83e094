// Installed versions and the machine's identity.
#include "services/SystemManager.h"

#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "base/log/LogWriter.h"
#include "base/platform/Platform.h"
#include "engine/print/Printer.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#include <cstdio>

namespace {

// The maker's USB vendor id and this product's id, as the update service knows them.
const char* const kVendorId = "7a1c";
const char* const kProductId = "0110";
const char* const kMachineName = "TalvikS";

// The first line of a probe's output, at most 99 characters, as the board's
// probes hand it over; -1 when the probe could not be started.
int probeLine(const char* command, std::string& line)
{
    std::string output;
    if (platform().shell().capture(command, &output) < 0)
        return -1;
    const size_t end = output.find('\n');
    line = output.substr(0, end == std::string::npos ? end : end + 1).substr(0, 99);
    return 0;
}

// The control-board version text. The engine's version query only logs, so
// there is none to be had on this machine.
QString controlBoardVersionText()
{
    return QString();
}

} // namespace

bool SystemManager::splitVersion(const QString& text, nvupserver::PkgVersionInfo& info)
{
    const QStringList parts = text.split('.', Qt::SkipEmptyParts);
    bool ok = parts.size() == 3;
    int numbers[3] = {0, 0, 0};
    for (int i = 0; ok && i < 3; ++i)
        numbers[i] = parts[i].toInt(&ok);
    if (!ok)
        numbers[0] = numbers[1] = numbers[2] = 0;
    info.major = numbers[0];
    info.minor = numbers[1];
    info.patch = numbers[2];
    return ok;
}

QString SystemManager::installedVersion(int pathId)
{
    std::string name;
    Utils::latestVersionDir(toStdString(PathManager::instance()->get(PathId(pathId))), name);
    return QString::fromLocal8Bit(name.c_str());
}

QString SystemManager::leadingVersion(const QString& name)
{
    // Only the leading numbers and dots: "2.1.5-rc1" is 2.1.5, never 2.1.51,
    // which the update service would take for a newer version than 2.1.6.
    return QRegularExpression("^[0-9.]*").match(name).captured(0);
}

QString SystemManager::firmwareVersion() const
{
    return m_firmwareVersion;
}

QString SystemManager::libraryVersion() const
{
    return m_libraryVersion;
}

QString SystemManager::kernelVersion() const
{
    return m_kernelVersion;
}

QString SystemManager::hardwareVersion() const
{
    return m_hardwareVersion;
}

QString SystemManager::controlVersion(bool refresh)
{
    if (refresh) {
        Printer::instance()->printProjectorVersions(0);
        QString text = controlBoardVersionText();
        const int dash = text.lastIndexOf('-');
        m_controlVersion = dash < 0 ? text : text.left(dash);
    }
    return m_controlVersion;
}

void SystemManager::getVersion(nvupserver::PackageType type, nvupserver::PkgVersionInfo& info)
{
    LogWriter* log = logger();
    info.type = type;
    info.buildTime = 0;
    switch (type) {
    case nvupserver::PACKAGE_KERNEL: {
        m_kernelVersion = getKernelRevision();
        if (m_kernelVersion.size() < 3) {
            info.major = info.minor = info.patch = 0;
            log->write(LogInfo, "Error Kernel Revision: %s", toStdString(m_kernelVersion).c_str());
        } else {
            int* fields[3] = {&info.major, &info.minor, &info.patch};
            for (int i = 0; i < 3; ++i) {
                const QChar c = m_kernelVersion.at(i);
                *fields[i] = c.isDigit() ? c.digitValue() : 0;
            }
            log->write(LogInfo, "Kernel Version: %s", toStdString(m_kernelVersion).c_str());
        }
        break;
    }
    case nvupserver::PACKAGE_CONTROL: {
        const QString text = controlBoardVersionText();
        const int dash = text.lastIndexOf('-');
        m_controlVersion = dash < 0 ? text : text.left(dash);
        if (splitVersion(m_controlVersion, info)) {
            log->write(LogInfo, "Control Version: %s", toStdString(controlVersion(false)).c_str());
        } else {
            info.major = 1;
            info.minor = info.patch = 0;
            log->write(LogInfo, "Error Control Version: %s", toStdString(m_controlVersion).c_str());
        }
        break;
    }
    case nvupserver::PACKAGE_LIBRARY:
        m_libraryVersion = installedVersion(PATH_LIBRARY);
        log->write(LogInfo, "Library Version: %s", toStdString(m_libraryVersion).c_str());
        if (!splitVersion(leadingVersion(m_libraryVersion), info))
            log->write(LogWarn, "Error Library Version: %s", toStdString(m_libraryVersion).c_str());
        break;
    case nvupserver::PACKAGE_SOFTWARE:
        m_firmwareVersion = leadingVersion(installedVersion(PATH_PROJECT));
        log->write(LogInfo, "Firmware Version: %s", toStdString(m_firmwareVersion).c_str());
        if (!splitVersion(m_firmwareVersion, info))
            log->write(LogWarn, "Error Firmware Version: %s", toStdString(m_firmwareVersion).c_str());
        break;
    }
}

QString SystemManager::getKernelRevision()
{
    std::string line;
    if (probeLine(" uname  -r | awk -F '[-]' '{print $4}' ", line) < 0) {
        logger()->write(LogError, "%s error", "getKernelRevision");
        return "000";
    }
    printf("%s procVersion:%s\n", "getKernelRevision", line.c_str());
    QString revision = QString::fromLatin1(line.c_str());
    revision.remove('\n').remove('V').remove('+');
    return revision;
}

QString SystemManager::getCPUSerial()
{
    std::string line;
    if (probeLine("cat /proc/cpuinfo | grep 'Serial' | awk '{print $3}'", line) < 0) {
        logger()->write(LogError, "%s error", "getCPUSerial");
        return "00000000";
    }
    printf("%s :%s\n", "getCPUSerial", line.c_str());
    QString serial = QString::fromLatin1(line.c_str());
    serial.remove('\n');
    return serial.right(8);
}

void SystemManager::getUniqueID(std::string& serial, QString& cpuSerial)
{
    if (serial.empty())
        serial = "00";
    else if (serial.size() >= 2)
        serial = serial.substr(serial.size() - 2);
    while (cpuSerial.size() < 8)
        cpuSerial += 'F';
    QString id = (QString::fromLatin1(serial.c_str()) + cpuSerial).toUpper();
    id.replace('O', 'Q');
    m_uniqueId = toStdString(id);
    logger()->write(LogInfo, "%s [%s]", "getUniqueID", m_uniqueId.c_str());
}

std::string SystemManager::uniqueId() const
{
    return m_uniqueId;
}

QString SystemManager::getMemSize()
{
    std::string line;
    if (probeLine("cat /proc/meminfo  | grep  \"MemTotal:\" | awk '{print $2}'", line) < 0) {
        fprintf(stderr, "ERROR getMemSize\n");
        return "2.0.0";
    }
    printf("%s, meminfo:%s\n", "getMemSize", line.c_str());
    // 64 bits: the count is in kB and may pass 2^31 on large machines.
    bool ok = false;
    const qlonglong kilobytes = QString::fromLatin1(line.c_str()).trimmed().toLongLong(&ok);
    return ok && kilobytes > 100999 ? "1.0.0" : "2.0.0";
}

nvupserver::PkgVersionInfo SystemManager::hardwareVersionInfo()
{
    nvupserver::PkgVersionInfo info;
    m_hardwareVersion = getMemSize();
    if (!splitVersion(m_hardwareVersion, info)) {
        info.major = 2;
        info.minor = info.patch = 0;
        m_hardwareVersion = "2.0.0";
    }
    info.buildTime = 0;
    return info;
}

void SystemManager::setMachineIdentity()
{
    // Built aside: a check thread's automatic download reads the identity.
    nvupserver::ClientInfo client;
    QSettings settings(QString::fromStdString(Utils::fsPath(PathManager::instance()->get(PATH_SERIAL))),
                       QSettings::IniFormat);
    client.sn = toStdString(settings.value("Machine", "Unknown").toString());
    client.vid = kVendorId;
    client.pid = kProductId;
    client.name = kMachineName;
    client.oemName = "";
    client.hardwareVersion = hardwareVersionInfo();
    logger()->write(LogInfo, "Machine Name:%s, OEM Name: %s", client.name.c_str(), client.oemName.c_str());
    for (int type = 0; type < nvupserver::PACKAGE_TYPE_COUNT; ++type) {
        nvupserver::PkgVersionInfo info;
        getVersion(nvupserver::PackageType(type), info);
        client.packageVersions.push_back(info);
    }
    std::lock_guard<std::mutex> lock(m_updateMutex);
    m_clientInfo = client;
}
