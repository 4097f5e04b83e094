#include "base/platform/SysIo.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool startsWith(const char* path, const char* prefix)
{
    return strncmp(path, prefix, strlen(prefix)) == 0;
}

// Under a scratch root the process is a test or the simulator on a shared
// host: the host's own hardware nodes are none of its business.
bool isHostHardware(const char* path, int flags)
{
    // Matched in normal form: "/dev/./fb0" and "//sys/..." are the same nodes.
    const std::string normal = absoluteNormalPath(path);
    static const char* const nodes[] = {"/dev/spidev", "/dev/i2c-", "/dev/fb", "/dev/jtag", "/dev/gadget"};
    for (const char* node : nodes)
        if (startsWith(normal.c_str(), node))
            return true;
    return startsWith(normal.c_str(), "/sys/") && (flags & O_ACCMODE) != O_RDONLY;
}

} // namespace

SysIo::~SysIo() = default;

int SysIo::open(const char* path, int flags, mode_t mode)
{
    if (!rootPrefix().empty() && isHostHardware(path, flags)) {
        logger()->write(LogWarn, "SysIo: not opening the host's %s under the scratch root %s", path,
                                     rootPrefix().c_str());
        errno = EPERM;
        return -1;
    }
    return ::open(path, flags, mode);
}

int SysIo::close(int fd)
{
    return ::close(fd);
}

ssize_t SysIo::read(int fd, void* buffer, size_t count)
{
    return ::read(fd, buffer, count);
}

ssize_t SysIo::write(int fd, const void* buffer, size_t count)
{
    return ::write(fd, buffer, count);
}

int SysIo::ioctl(int fd, unsigned long request, void* arg)
{
    return ::ioctl(fd, request, arg);
}

int SysIo::poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    return ::poll(fds, count, timeoutMs);
}

void* SysIo::mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset)
{
    return ::mmap(address, length, protection, flags, fd, offset);
}

int SysIo::munmap(void* address, size_t length)
{
    return ::munmap(address, length);
}

off_t SysIo::lseek(int fd, off_t offset, int whence)
{
    return ::lseek(fd, offset, whence);
}

int SysIo::fsync(int fd)
{
    return ::fsync(fd);
}

int SysIo::rename(const char* from, const char* to)
{
    return ::rename(from, to);
}

int SysIo::access(const char* path, int mode)
{
    return ::access(path, mode);
}

int pollUntil(pollfd* fds, nfds_t count, const timespec* deadline)
{
    for (;;) {
        int timeoutMs = -1;
        if (deadline) {
            const int64_t leftNs = timespecToNs(*deadline) - timespecToNs(kernelMonotonicNow());
            // Rounded up, so the wait never ends before the instant.
            timeoutMs = leftNs <= 0 ? 0 : static_cast<int>(std::min<int64_t>((leftNs + 999999) / 1000000, 1 << 30));
        }
        const int rc = platform().io().poll(fds, count, timeoutMs);
        if (rc >= 0 || errno != EINTR)
            return rc;
    }
}

ssize_t writeAll(int fd, const void* buffer, size_t count)
{
    const char* bytes = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = platform().io().write(fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0) {
            errno = EIO;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}
