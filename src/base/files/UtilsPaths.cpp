// Utils: path tests, names and lookups.
#include "base/files/Utils.h"

#include "base/files/RegularFile.h"
#include "base/log/RootPath.h"

#include <QDir>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

std::string Utils::fsPath(const QString& boardPath)
{
    return rootPath(boardPath.toUtf8().toStdString());
}

bool Utils::isFile(const QString& path)
{
    struct stat info{};
    if (stat(fsPath(path).c_str(), &info) != 0) {
        perror("isFile:");
        return false;
    }
    return S_ISREG(info.st_mode);
}

bool Utils::isDir(const QString& path)
{
    struct stat info{};
    return stat(fsPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void Utils::statPath(const QString& path)
{
    struct stat info{};
    if (stat(fsPath(path).c_str(), &info) != 0)
        perror("stat");
}

void Utils::statPath(const QString& path, time_t)
{
    statPath(path);
}

time_t Utils::fileAccessTime(const QString& path)
{
    struct stat info{};
    if (stat(fsPath(path).c_str(), &info) != 0) {
        perror("stat");
        return 0;
    }
    return info.st_atime;
}

QString Utils::joinPath(const QString& dir, const QString& name)
{
    return dir + QDir::separator() + name;
}

bool Utils::isSvgxComplete(const QString& path)
{
    if (!path.endsWith(".svgx", Qt::CaseInsensitive))
        return false;
    // Models come from disks: a FIFO under a model's name must not stall the caller.
    const int fd = openRegularFile(fsPath(path));
    if (fd < 0)
        return false;
    struct stat info{};
    char tail[513] = {};
    const bool complete = fstat(fd, &info) == 0 && info.st_size >= 512 &&
                          pread(fd, tail, 512, info.st_size - 512) == 512 && strstr(tail, "</svg>") != nullptr;
    close(fd);
    return complete;
}

QString Utils::findCorbinFile(const QString& dir)
{
    QDir folder(QString::fromStdString(fsPath(dir)));
    const QStringList names = folder.entryList(QStringList{"*.corbin"}, QDir::Files, QDir::Name);
    return names.isEmpty() ? QString() : joinPath(dir, names.first());
}

void Utils::latestVersionDir(const std::string& dir, std::string& name)
{
    const std::string folder = rootPath(dir);
    DIR* entries = opendir(folder.c_str());
    if (!entries)
        return;
    std::string latest;
    while (const dirent* entry = readdir(entries)) {
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) { // file systems that do not fill in the type
            struct stat info{};
            isFolder = stat((folder + "/" + entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        const std::string entryName = entry->d_name;
        if (isFolder && entryName[0] != '.' && hasMultipleDots(entryName))
            latest = std::max(latest, entryName);
    }
    closedir(entries);
    name = latest;
}

bool Utils::hasMultipleDots(const std::string& text)
{
    return std::count(text.begin(), text.end(), '.') >= 2;
}
