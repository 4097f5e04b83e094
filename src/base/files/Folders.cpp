#include "base/files/Folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace folders {

namespace {

// The folder above `fsPath`; empty for the root or a name without one.
std::string parentOf(const std::string& fsPath)
{
    const size_t end = fsPath.find_last_not_of('/');
    const size_t slash = end == std::string::npos ? std::string::npos : fsPath.rfind('/', end);
    return slash != std::string::npos && slash > 0 ? fsPath.substr(0, slash) : std::string();
}

} // namespace

int makeAll(const std::string& fsPath, mode_t mode)
{
    struct stat info{};
    if (stat(fsPath.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : -ENOTDIR;
    const std::string parent = parentOf(fsPath);
    if (!parent.empty()) {
        const int above = makeAll(parent, mode);
        if (above < 0)
            return above;
    }
    if (mkdir(fsPath.c_str(), mode) != 0)
        return errno == EEXIST ? 0 : -errno;
    // mkdir took the umask's bits away; the folder is ours, so give them back.
    return chmod(fsPath.c_str(), mode) == 0 ? 0 : -errno;
}

int makeOwn(const std::string& fsPath, mode_t mode)
{
    const std::string parent = parentOf(fsPath);
    if (!parent.empty()) {
        const int above = makeAll(parent, mode);
        if (above < 0)
            return above;
    }
    struct stat info{};
    if (lstat(fsPath.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 022) == 0)
            return 0;
        // Someone else's, or open to others: what it holds (links in place of
        // our files) is not to be trusted. It leaves its place in one step,
        // into a folder of ours no one else may enter, whatever it holds;
        // the removal there opens no link, and one that fails (a chain of
        // folders deeper than our descriptors) leaves it shut away.
        std::string aside = fsPath + ".aside.XXXXXX";
        if (!mkdtemp(aside.data()))
            return -errno;
        if (rename(fsPath.c_str(), (aside + "/untrusted").c_str()) != 0) {
            const int error = errno;
            rmdir(aside.c_str());
            return -error;
        }
        std::error_code ignored;
        std::filesystem::remove_all(aside, ignored);
    } else if (errno != ENOENT) {
        return -errno;
    }
    // One made by someone else meanwhile is not taken either.
    if (mkdir(fsPath.c_str(), mode) != 0)
        return -errno;
    return chmod(fsPath.c_str(), mode) == 0 ? 0 : -errno;
}

int keepPrivate(const std::string& fsPath)
{
    const int fd = open(fsPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    int result = 0;
    struct stat info{};
    if (fstat(fd, &info) != 0)
        result = -errno;
    else if (info.st_uid != geteuid() && fchown(fd, geteuid(), static_cast<gid_t>(-1)) != 0)
        result = -errno;
    else if ((info.st_mode & 022) != 0 && fchmod(fd, info.st_mode & 07755) != 0)
        result = -errno;
    close(fd);
    return result;
}

} // namespace folders
