#include "base/config/PathManager.h"

#include "base/files/Folders.h"
#include "base/files/Utils.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "base/threads/Assert.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The printer's own folder under /tmp.
const char kTmpThumbs[] = "/tmp/.thumb";

// The program's folder; without an application object (tools, tests) the
// folder of the running executable.
QString applicationDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFile::symLinkTarget("/proc/self/exe")).absolutePath();
}

// `dir` + `up` + separator made absolute and cleaned, the trailing separator kept.
QString absoluteWithSeparator(const QString& dir, const char* up)
{
    QString path = QDir::cleanPath(QFileInfo(dir + up + QDir::separator()).absoluteFilePath());
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path;
}

} // namespace

PathManager* PathManager::instance()
{
    static PathManager* const table = new PathManager(applicationDir());
    return table;
}

PathManager::PathManager(const QString& appDir)
{
    initPaths(appDir);
}

PathManager::Table PathManager::pathsFor(const QString& appDir)
{
    const QString project = absoluteWithSeparator(appDir, "/..");
    const QString top = absoluteWithSeparator(appDir, "/../..");

    Table paths;
    paths[PATH_APP_DIR] = appDir;
    paths[PATH_BIN_DIR] = appDir;
    paths[PATH_IMAGE] = top + "image";
    paths[PATH_VAR] = top + "var";
    paths[PATH_KERNEL] = top + "kernel";
    paths[PATH_KERNEL_FILE] = top + "kernel/ker";
    paths[PATH_CONTROL] = top + "control";
    paths[PATH_CONTROL_FILE] = top + "control/ctl";
    paths[PATH_LIBRARY] = top + "library";
    paths[PATH_SOFTWARE] = top + "software2";
    paths[PATH_PROJECT] = project;

    paths[PATH_SYS_CONFIG] = "/etc/_config_";
    paths[PATH_MODEL] = "/data/model";
    paths[PATH_CONFIG] = "/data/etc";
    paths[PATH_TIMESTAMP] = "/data/timestamp";
    paths[PATH_LOG] = "/data/var";
    paths[PATH_TMP] = "/data/tmp";
    paths[PATH_PACKAGE] = QString("/data/") + "TalvikS" + "-package";
    paths[PATH_DATA_ETC] = paths[PATH_CONFIG];
    paths[PATH_CONFIG_FILE] = Utils::joinPath(paths[PATH_CONFIG], "config");
    paths[PATH_SERIAL] = Utils::joinPath(paths[PATH_CONFIG], "serial");
    paths[PATH_WIFI_CFG] = Utils::joinPath(paths[PATH_CONFIG], "wifi.cfg");
    paths[PATH_WIFI_PASS] = Utils::joinPath(paths[PATH_CONFIG], "wifipass.cfg");
    paths[PATH_THUMB_INTERNAL] = Utils::joinPath(Utils::joinPath(paths[PATH_MODEL], ".thumb"), "internal");
    paths[PATH_THUMB_UDISK] = Utils::joinPath(kTmpThumbs, "udisk");
    // PATH_UDISK stays empty for the life of the process.
    return paths;
}

void PathManager::initPaths(const QString& appDir)
{
    m_paths = pathsFor(appDir);

    for (PathId id : {PATH_MODEL, PATH_CONFIG, PATH_UDISK, PATH_LOG, PATH_TMP})
        mkpath(m_paths[id]);
    // The configuration folder holds the Wi-Fi passwords and the station's
    // configuration: nobody else may put files there.
    const std::string config = Utils::fsPath(m_paths[PATH_CONFIG]);
    const int kept = folders::keepPrivate(config);
    if (kept < 0)
        fprintf(stderr, "keepPrivate %s: %s\n", config.c_str(), strerror(-kept));

    // The USB disk's thumbnails live under /tmp, where every local user may
    // make folders: one made first by someone else, with a link in place of
    // a file or folder of ours, must not take the thumbnail writes.
    const std::string thumbs = Utils::fsPath(kTmpThumbs);
    const int own = folders::makeOwn(thumbs, 0755);
    if (own < 0) {
        // Nothing is written into a folder that is not ours.
        fprintf(stderr, "makeOwn %s: %s: no USB thumbnails\n", thumbs.c_str(), strerror(-own));
        m_paths[PATH_THUMB_UDISK].clear();
    }

    // Every run starts with these emptied; nothing is made in a folder that
    // could not be made our own.
    for (PathId id : {PATH_PACKAGE, PATH_THUMB_INTERNAL, PATH_THUMB_UDISK}) {
        if (m_paths[id].isEmpty())
            continue;
        Utils::removeDir(m_paths[id]);
        mkpath(m_paths[id]);
    }

    makeTimeStamp(m_paths[PATH_TIMESTAMP]);
}

QString PathManager::get(const PathId& id)
{
    TALVIKS_ASSERT(id >= 0);
    TALVIKS_ASSERT(id < _PATH_COUNT);
    return m_paths[id];
}

void PathManager::mkpath(const QString& path)
{
    if (path.isEmpty())
        return;
    folders::makeAll(Utils::fsPath(path), 0755);
}

void PathManager::makeTimeStamp(const QString& path)
{
    // Made with its mode whatever the umask; one that is there keeps its content.
    const int fd = open(Utils::fsPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (fchmod(fd, 0644) != 0)
            perror("makeTimeStamp");
        close(fd);
    } else if (errno != EEXIST) {
        perror("makeTimeStamp");
    }
    const time_t buildTime = setClockFromBuildTime(__DATE__, __TIME__);
    Utils::statPath(path, buildTime);
}

time_t PathManager::setClockFromBuildTime(const char* date, const char* time)
{
    tm broken = buildTimeOf(date, time);
    const time_t buildTime = mktime(&broken);
    broken.tm_year += 10;
    timeval later{};
    later.tv_sec = mktime(&broken);
    platform().clock().setWallTime(later);
    return buildTime;
}
