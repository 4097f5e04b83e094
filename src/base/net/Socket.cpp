#include "base/net/Socket.h"

#include "base/platform/Clock.h"
#include "base/platform/SysIo.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

int Socket::open(int type, int protocol)
{
    close();
    m_fd = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    return m_fd < 0 ? -1 : 0;
}

int Socket::setTimeout(int option, int ms)
{
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return setsockopt(m_fd, SOL_SOCKET, option, &tv, sizeof tv) == 0 ? 0 : -1;
}

int Socket::getTimeout(int option) const
{
    timeval tv{};
    socklen_t length = sizeof tv;
    if (getsockopt(m_fd, SOL_SOCKET, option, &tv, &length) != 0)
        return -1;
    return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

int Socket::setRecvTimeout(int ms)
{
    return setTimeout(SO_RCVTIMEO, ms);
}

int Socket::setSendTimeout(int ms)
{
    return setTimeout(SO_SNDTIMEO, ms);
}

int Socket::getRecvTimeout() const
{
    return getTimeout(SO_RCVTIMEO);
}

int Socket::getSendTimeout() const
{
    return getTimeout(SO_SNDTIMEO);
}

int Socket::setBlocking(bool blocking)
{
    int nonBlocking = blocking ? 0 : 1;
    return ioctl(m_fd, FIONBIO, &nonBlocking) == 0 ? 0 : -1;
}

int Socket::setReuseAddr(bool reuse)
{
    const int on = reuse ? 1 : 0;
    return setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : -1;
}

int Socket::getPeerName(InetAddress& address) const
{
    socklen_t length = sizeof(sockaddr_in);
    return getpeername(m_fd, address.sockAddr(), &length) == 0 ? 0 : -1;
}

int Socket::getSockName(InetAddress& address) const
{
    socklen_t length = sizeof(sockaddr_in);
    return getsockname(m_fd, address.sockAddr(), &length) == 0 ? 0 : -1;
}

// poll rather than select: descriptors above 1023 are common in a process
// with many files open, and select cannot take them.
int Socket::wait(short events, int ms) const
{
    if (m_fd < 0 || ms < 0) {
        errno = m_fd < 0 ? EBADF : EINVAL;
        return -1;
    }
    const timespec deadline = kernelDeadlineAfterMs(ms);
    pollfd entry{m_fd, events, 0};
    const int result = pollUntil(&entry, 1, &deadline);
    if (result > 0 && (entry.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return result;
}

int Socket::waitReadable(int ms) const
{
    return wait(POLLIN, ms);
}

int Socket::waitWritable(int ms) const
{
    return wait(POLLOUT, ms);
}

int Socket::close()
{
    if (m_fd < 0)
        return m_fd;
    shutdown(m_fd, SHUT_RDWR);
    const int result = ::close(m_fd);
    m_fd = -1;
    return result;
}

int Socket::closeAfterFailure()
{
    const int error = errno;
    close();
    errno = error;
    return -1;
}

int Socket::bindTo(const InetAddress& address)
{
    if (::bind(m_fd, address.sockAddr(), sizeof(sockaddr_in)) != 0)
        return closeAfterFailure();
    return 0;
}

int Socket::connectTo(const InetAddress& address)
{
    return ::connect(m_fd, address.sockAddr(), sizeof(sockaddr_in)) == 0 ? 0 : -1;
}
