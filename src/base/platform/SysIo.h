#pragma once

#include <poll.h>
#include <sys/types.h>

#include <ctime>

// The one door to the board's device nodes ("/dev/spidev0.0", "/dev/i2c-0",
// "/dev/fb2", serial ports, "/sys/class/gpio/..."). Production code makes the
// real calls with the real kernel structures through here; the default passes
// them to libc, and the simulated board installs itself in its place so that
// device models answer instead of the kernel. The durable file writes
// (base/files/DurableFile.h) pass here too, so that a test sees the order of
// their writes, flushes and renames. The implementation in use is
// platform().io() (Platform.h).
//
// Every operation behaves like its libc namesake: -1 (MAP_FAILED for mmap)
// with errno set on failure. Paths are the board's device paths and reach the
// kernel unchanged; a caller that means a file of the board's own file system
// passes it through rootPath() first.
class SysIo
{
public:
    virtual ~SysIo();

    virtual int open(const char* path, int flags, mode_t mode = 0);
    virtual int close(int fd);
    virtual ssize_t read(int fd, void* buffer, size_t count);
    virtual ssize_t write(int fd, const void* buffer, size_t count);
    virtual int ioctl(int fd, unsigned long request, void* arg);
    virtual int poll(pollfd* fds, nfds_t count, int timeoutMs);
    virtual void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset);
    virtual int munmap(void* address, size_t length);
    virtual off_t lseek(int fd, off_t offset, int whence);
    virtual int fsync(int fd);
    virtual int rename(const char* from, const char* to);
    // Whether a path exists (sysfs attributes are tested before use).
    virtual int access(const char* path, int mode);
};

// Polls through the seam until an event or a CLOCK_MONOTONIC instant (null:
// no limit), resuming after signals. The result of poll; 0 when the instant passed.
int pollUntil(pollfd* fds, nfds_t count, const timespec* deadline);

// Writes all bytes through the seam, resuming after partial writes and
// signals. The byte count, or -1 with errno set (EIO when nothing more was taken).
ssize_t writeAll(int fd, const void* buffer, size_t count);
