#include "base/files/DurableFile.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace durable {

namespace {

constexpr size_t kRandomLength = 6; // the characters mkostemp fills in

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Hidden, so that file lists never show a half-written file.
std::string temporaryPrefix(const std::string& path)
{
    const std::string folder = folderOf(path);
    return (folder == "/" ? "" : folder) + "/." + nameOf(path) + ".";
}

} // namespace

int writeAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = platform().io().write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (written == 0)
            return -ENOSPC;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

int syncParentFolder(const std::string& fsPath)
{
    SysIo& io = platform().io();
    const int fd = io.open(folderOf(fsPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const int result = io.fsync(fd) == 0 ? 0 : -errno;
    io.close(fd);
    return result;
}

int openTemporary(const std::string& fsPath, std::string* tempPath)
{
    std::string pattern = temporaryPrefix(fsPath) + "XXXXXX";
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return -errno;
    *tempPath = pattern;
    return fd;
}

void discardTemporary(int fd, const std::string& tempPath)
{
    if (fd >= 0)
        close(fd);
    unlink(tempPath.c_str());
}

int commitTemporary(int fd, const std::string& tempPath, const std::string& fsPath)
{
    SysIo& io = platform().io();
    if (io.fsync(fd) != 0) {
        const int error = -errno;
        discardTemporary(fd, tempPath);
        return error;
    }
    // close() can report a failed deferred write (NFS, FUSE): the file must not replace the old one then.
    if (io.close(fd) != 0) {
        const int error = -errno;
        unlink(tempPath.c_str());
        return error;
    }
    if (io.rename(tempPath.c_str(), fsPath.c_str()) != 0) {
        const int error = -errno;
        unlink(tempPath.c_str());
        return error;
    }
    return syncParentFolder(fsPath);
}

int replaceFile(const std::string& boardPath, const void* data, size_t size, mode_t mode)
{
    const std::string fsPath = rootPath(boardPath);
    std::string tempPath;
    int result = openTemporary(fsPath, &tempPath);
    if (result >= 0) {
        const int fd = result;
        result = writeAll(fd, data, size);
        if (result == 0 && fchmod(fd, mode) != 0)
            result = -errno;
        if (result == 0)
            result = commitTemporary(fd, tempPath, fsPath);
        else
            discardTemporary(fd, tempPath);
    }
    if (result < 0)
        logger()->write(LogError, "Cannot rewrite %s: %s", boardPath.c_str(), strerror(-result));
    return result;
}

int replaceFile(const std::string& boardPath, const std::string& data, mode_t mode)
{
    return replaceFile(boardPath, data.data(), data.size(), mode);
}

bool isTemporaryName(const std::string& entryName)
{
    // "." + at least one character + "." + the random part.
    if (entryName.size() < 3 + kRandomLength || entryName[0] != '.')
        return false;
    const size_t dot = entryName.size() - kRandomLength - 1;
    if (entryName[dot] != '.')
        return false;
    for (size_t i = dot + 1; i < entryName.size(); ++i)
        if (!isalnum(static_cast<unsigned char>(entryName[i])))
            return false;
    return true;
}

void removeStaleTemporaries(const std::string& boardPath)
{
    const std::string fsPath = rootPath(boardPath);
    const std::string prefix = "." + nameOf(fsPath) + ".";
    DIR* dir = opendir(folderOf(fsPath).c_str());
    if (!dir)
        return;
    bool removed = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + kRandomLength && name.compare(0, prefix.size(), prefix) == 0) {
            removed |= unlinkat(dirfd(dir), name.c_str(), 0) == 0;
        }
    }
    closedir(dir);
    if (removed)
        syncParentFolder(fsPath);
}

} // namespace durable
