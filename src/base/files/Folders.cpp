#include "base/files/Folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace folders {

int makeAll(const std::string& fsPath, mode_t mode)
{
    struct stat info{};
    if (stat(fsPath.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : -ENOTDIR;
    const size_t slash = fsPath.find_last_not_of('/') == std::string::npos
                             ? std::string::npos
                             : fsPath.rfind('/', fsPath.find_last_not_of('/'));
    if (slash != std::string::npos && slash > 0) {
        const int above = makeAll(fsPath.substr(0, slash), mode);
        if (above < 0)
            return above;
    }
    if (mkdir(fsPath.c_str(), mode) != 0)
        return errno == EEXIST ? 0 : -errno;
    // mkdir took the umask's bits away; the folder is ours, so give them back.
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
