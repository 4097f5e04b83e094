#include "base/buses/SysfsAttribute.h"

#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool sysfsExists(const char* path)
{
    return platform().io().access(path, F_OK) == 0;
}

int sysfsWrite(const char* path, const std::string& text, const char* openTag)
{
    SysIo& io = platform().io();
    const int fd = io.open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (openTag)
            perror(openTag);
        return -error;
    }
    // An attribute takes its text in one write or not at all.
    const ssize_t n = io.write(fd, text.data(), text.size());
    const int error = n < 0 ? errno : EIO;
    io.close(fd);
    return n == static_cast<ssize_t>(text.size()) ? 0 : -error;
}

int sysfsWriteAttribute(const char* path, const std::string& text)
{
    if (!sysfsExists(path))
        return -EEXIST;
    return sysfsWrite(path, text);
}

int sysfsReadAttribute(const char* path, char* buffer, size_t size)
{
    if (!sysfsExists(path))
        return -EEXIST;
    SysIo& io = platform().io();
    const int fd = io.open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const ssize_t n = io.read(fd, buffer, size);
    const int error = errno;
    io.close(fd);
    return n < 0 ? -error : static_cast<int>(n);
}
