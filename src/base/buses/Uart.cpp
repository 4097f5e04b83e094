#include "base/buses/Uart.h"

#include "base/buses/UartSettings.h"
#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"

#include <fcntl.h>
#include <termios.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace HardwareInterface {

Uart::Uart() = default;

Uart::~Uart()
{
    // The object cannot be copied, so nothing else can still use the descriptor.
    closeLocked();
}

int Uart::open(const char* path, int baud, char parity, int dataBits, int stopBits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
    const int fd = platform().io().open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        puts("failed to open com");
        return -1;
    }
    termios current{};
    if (fcntl(fd, F_SETFL, 0) != 0 || tcgetattr(fd, &current) != 0) {
        logger()->write(LogError, "Uart: %s is no serial port: %s", path, strerror(errno));
        platform().io().close(fd);
        return -1;
    }
    const termios settings = uartSettings(current, baud, parity, dataBits, stopBits);
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        logger()->write(LogError, "Uart: cannot configure %s: %s", path, strerror(errno));
        platform().io().close(fd);
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    return 0;
}

int Uart::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return closeLocked();
}

int Uart::closeLocked()
{
    if (m_fd <= 0)
        return 0;
    const int rc = platform().io().close(m_fd);
    m_fd = 0;
    return rc;
}

void Uart::setTimeout(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeoutSec = ms / 1000;
    m_timeoutUsec = (ms % 1000) * 1000;
}

int Uart::write(const void* buffer, int length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!isOpen())
        return -ENOENT;
    if (length <= 0)
        return 0;
    if (writeAll(m_fd, buffer, static_cast<size_t>(length)) < 0) {
        logger()->write(LogWarn, "Uart Write Fail: ERRNO (%i), MSG(%s)", errno, strerror(errno));
        return -ENOENT;
    }
    return 0;
}

int Uart::waitReadable() const
{
    // The time-out counts from the last byte: each wait gets a fresh deadline.
    const timespec deadline = peerDeadlineAfterMs(m_timeoutSec * 1000LL + (m_timeoutUsec + 999) / 1000);
    pollfd entry{m_fd, POLLIN, 0};
    return pollUntil(&entry, 1, &deadline);
}

int Uart::read(void* buffer, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!isOpen())
        return -ENOENT;
    char* bytes = static_cast<char*>(buffer);
    int got = 0;
    while (got < count) {
        const int ready = waitReadable();
        if (ready == 0)
            return got;
        if (ready < 0) {
            const int error = errno;
            puts("error");
            logger()->write(LogWarn, "Uart Read Select ERRNO (%i), MSG(%s)", error, strerror(error));
            return -ENOENT;
        }
        const ssize_t n = platform().io().read(m_fd, bytes + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // Readable but nothing to read: the peer hung up.
        logger()->write(LogWarn, "Uart Read: the peer is gone after %d of %d bytes (%s)", got, count,
                                     n == 0 ? "end of data" : strerror(errno));
        return got > 0 ? got : -ENOENT;
    }
    return got;
}

int Uart::recvLine(char* buffer, int capacity)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!isOpen() || capacity < 2)
        return -ENOENT;
    int count = 0;
    for (;;) {
        const int ready = waitReadable();
        if (ready == 0)
            return -ENOENT;
        if (ready < 0) {
            perror("recvLine error");
            return -ENOENT;
        }
        char byte = 0;
        const ssize_t n = platform().io().read(m_fd, &byte, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            logger()->write(LogWarn, "Uart recvLine: the peer is gone after %d bytes (%s)", count,
                                         n == 0 ? "end of data" : strerror(errno));
            return -ENOENT;
        }
        buffer[count++] = byte;
        if (byte == '\n')
            return count;
        if (count >= capacity)
            return -ENOENT;
    }
}

int Uart::flushInput()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!isOpen()) {
        errno = EBADF;
        return -1;
    }
    return tcflush(m_fd, TCIFLUSH);
}

int Uart::flush()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!isOpen()) {
        errno = EBADF;
        return -1;
    }
    return tcflush(m_fd, TCIOFLUSH);
}

} // namespace HardwareInterface
