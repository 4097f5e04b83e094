#include "services/ProcessPipes.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Clock.h"
#include "base/platform/SysIo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace processpipes {
namespace {

// Waits for `events` on fd until the deadline: true when they came.
bool waitFor(int fd, short events, const timespec& deadline)
{
    pollfd entry{fd, events, 0};
    const int rc = pollUntil(&entry, 1, &deadline);
    if (rc == 0)
        errno = ETIMEDOUT;
    return rc > 0;
}

// Opens the pipe (made when missing) without blocking: a write end with no
// reader fails with ENXIO. Anything but a pipe is refused with ENOTSUP.
int openPipe(const char* boardPath, int accessMode)
{
    const std::string path = rootPath(boardPath);
    if (mkfifo(path.c_str(), 0777) != 0 && errno != EEXIST)
        return -1;
    struct stat info{};
    if (lstat(path.c_str(), &info) != 0)
        return -1;
    if (!S_ISFIFO(info.st_mode)) {
        errno = ENOTSUP;
        return -1;
    }
    const int fd = open(path.c_str(), accessMode | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    // The name may have been replaced between the look and the open.
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode))) {
        close(fd);
        errno = ENOTSUP;
        return -1;
    }
    return fd;
}

// Writes every byte before the deadline: 0, or -1 with errno (EPIPE when the
// reader went away; the process ignores SIGPIPE).
int writeWhole(int fd, const std::string& bytes, const timespec& deadline)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return -1;
        } else if (n < 0 && errno == EAGAIN && !waitFor(fd, POLLOUT, deadline)) {
            return -1;
        }
    }
    return 0;
}

// Reads exactly `count` bytes before the deadline: 0, or -1 with errno
// (ENODATA when the writer closed early).
int readWhole(int fd, void* buffer, size_t count, const timespec& deadline)
{
    size_t done = 0;
    while (done < count) {
        if (!waitFor(fd, POLLIN, deadline))
            return -1;
        const ssize_t n = read(fd, static_cast<char*>(buffer) + done, count - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0) {
            errno = ENODATA;
            return -1;
        } else if (errno != EAGAIN && errno != EINTR)
            return -1;
    }
    return 0;
}

int ipcFailure(int line, int fd)
{
    logger()->write(LogError, "%s, %d: %s", "ipcSystem", line, strerror(errno));
    if (fd >= 0)
        close(fd);
    return -1;
}

} // namespace

int writeProcessManager(const std::string& cmd)
{
    LogWriter* log = logger();
    log->write(LogInfo, "Start open %s", kProcessManagerPipe);
    const int fd = openPipe(kProcessManagerPipe, O_WRONLY);
    if (fd < 0) {
        log->write(LogError, "%s, %d: %s", "writeProcessManager", __LINE__, strerror(errno));
        printf("open FIFO failed\n");
        return -1;
    }
    const int rc = writeWhole(fd, cmd, kernelDeadlineAfterMs(kWriteLimitMs));
    const int error = errno;
    close(fd);
    if (rc != 0) {
        log->write(LogError, "%s, %d: %s", "writeProcessManager", __LINE__, strerror(error));
        return -1;
    }
    printf("%d char is written! It's %s\n", static_cast<int>(cmd.size()), cmd.c_str());
    log->write(LogInfo, "[%s] iswritten", cmd.c_str());
    return 0;
}

int ipcSystem(const std::string& cmd, int statusLimitMs)
{
    int fd = openPipe(kRunnerInPipe, O_WRONLY);
    if (fd < 0)
        return ipcFailure(__LINE__, -1);
    if (writeWhole(fd, cmd, kernelDeadlineAfterMs(kWriteLimitMs)) != 0)
        return ipcFailure(__LINE__, fd);
    close(fd);

    fd = openPipe(kRunnerOutPipe, O_RDONLY);
    if (fd < 0)
        return ipcFailure(__LINE__, -1);
    int32_t status = -1;
    if (readWhole(fd, &status, sizeof status, kernelDeadlineAfterMs(statusLimitMs)) != 0)
        return ipcFailure(__LINE__, fd);
    close(fd);
    return status;
}

} // namespace processpipes
