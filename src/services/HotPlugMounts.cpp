// The mount side of HotPlug: looking up, mounting and unmounting USB-disk
// partitions, and the rescan after lost events.
#include "services/HotPlug.h"

#include "base/config/SystemState.h"
#include "base/files/Folders.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Mounts.h"
#include "base/platform/Platform.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

namespace {

// Covers every check-then-act on the mounts, whichever thread asks.
std::mutex& mountMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool isPartitionName(const QString& name)
{
    static const QRegularExpression pattern("^sd[a-z][0-9]+$");
    return pattern.match(name).hasMatch();
}

// Names become paths and mount sources: anything but "sd" + letter + number is refused.
bool acceptedName(const QString& name, const char* operation)
{
    if (isPartitionName(name))
        return true;
    logger()->write(LogError, "%s: not a partition name (%s)", operation, name.toUtf8().constData());
    return false;
}

std::string fsPath(const QString& boardPath)
{
    return rootPath(boardPath.toStdString());
}

// The mount table's lines split into fields; false when it cannot be read.
bool readMountTable(std::vector<QStringList>& entries)
{
    std::string text;
    if (!platform().mounts().readTable(&text))
        return false;
    static const QRegularExpression blanks("\\s+");
    for (const QString& line : QString::fromStdString(text).split('\n')) {
        QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
        if (fields.size() >= 3)
            entries.push_back(std::move(fields));
    }
    return true;
}

// The mount point of the first entry of a partition, as the table writes it; empty when none.
QString mountPointIn(const std::vector<QStringList>& table, const QString& partition)
{
    const QString source = "/dev/" + partition;
    for (const QStringList& fields : table)
        if (fields[0] == source)
            return fields[1];
    return QString();
}

} // namespace

bool HotPlug::getMountPoint(const QString& partition, QString& mountPoint)
{
    mountPoint.clear();
    if (partition.isEmpty() || !acceptedName(partition, "getMountPoint"))
        return false;
    std::vector<QStringList> table;
    if (!readMountTable(table))
        return false;
    mountPoint = mountPointIn(table, partition);
    logger()->write(LogDebug, "USB mount point: %s", mountPoint.toUtf8().constData());
    return true;
}

bool HotPlug::mount(const QString& partition, QString& mountDir)
{
    if (partition.isEmpty())
        return true;
    if (!acceptedName(partition, "mount"))
        return false;
    std::lock_guard<std::mutex> lock(mountMutex());
    QString mounted;
    if (getMountPoint(partition, mounted) && !mounted.isEmpty()) {
        mountDir = mounted;
        return true;
    }
    QString codePage = SystemState::instance()->codePage();
    if (codePage.isEmpty())
        codePage = "437";
    const std::string options =
        QString("codepage=%1,iocharset=utf8,shortname=mixed,errors=remount-ro").arg(codePage).toStdString();
    const std::string source = "/dev/" + partition.toStdString();
    const QString target = "/media/" + partition;
    const std::string targetPath = fsPath(target);

    const bool created = !QDir(QString::fromStdString(targetPath)).exists();
    if (created && folders::makeAll(targetPath) != 0) {
        logger()->write(LogError, "mount %s fail, mkpath fail", source.c_str());
        return false;
    }
    logger()->write(LogDebug, "Source: %s, Dest: %s, data: %s", source.c_str(), target.toUtf8().constData(),
                                 options.c_str());
    if (platform().mounts().mount(source, target.toStdString(), "vfat", 0, options) != 0) {
        logger()->write(LogError, "mount /dev/%s fail, errmsg (%s)", partition.toUtf8().constData(),
                                     strerror(errno));
        // Leave no empty folder behind that looks like a disk.
        if (created)
            rmdir(targetPath.c_str());
        return false;
    }
    mountDir = target;
    logger()->write(LogInfo, "mount %s success", source.c_str());
    return true;
}

bool HotPlug::unmount(const QString& partition)
{
    if (partition.isEmpty())
        return true;
    if (!acceptedName(partition, "unmount"))
        return false;
    std::lock_guard<std::mutex> lock(mountMutex());
    QString mountPoint;
    if (!getMountPoint(partition, mountPoint) || mountPoint.isEmpty())
        return true;
    const QByteArray point = mountPoint.toUtf8();
    // A file still open on a pulled disk must not keep its mount (and the
    // folder the next disk needs) alive: a busy mount is detached.
    if (unmountOrDetach(point.toStdString()) != 0) {
        logger()->write(LogError, "unmount %s fail", point.constData());
        return false;
    }
    logger()->write(LogInfo, "unmount %s success", point.constData());
    if (rmdir(fsPath(mountPoint).c_str()) != 0) {
        logger()->write(LogError, "rm %s fail", point.constData());
        return false;
    }
    logger()->write(LogInfo, "rm %s success", point.constData());
    return true;
}

bool HotPlug::mountedPartitions(std::set<QString>& mounted)
{
    std::vector<QStringList> table;
    if (!readMountTable(table))
        return false;
    for (const QStringList& fields : table) {
        const QString partition = fields[0].mid(5);
        if (fields[0].startsWith("/dev/") && isPartitionName(partition) && fields[1].startsWith("/media/"))
            mounted.insert(partition);
    }
    return true;
}

void HotPlug::rescanPartitions()
{
    std::set<QString> mounted;
    mountedPartitions(mounted);
    std::set<QString> present;
    const QDir devices(QString::fromStdString(rootPath("/dev")));
    for (const QString& name : devices.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (isPartitionName(name))
            present.insert(name);

    for (const QString& partition : mounted)
        if (!present.count(partition))
            emitUsbNotifyEvent(partition, DEV_ACTION_REMOVE);
    for (const QString& partition : present)
        if (!mounted.count(partition))
            emitUsbNotifyEvent(partition, DEV_ACTION_ADD);
}
