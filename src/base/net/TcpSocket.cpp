#include "base/net/TcpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <climits>

namespace {

// Counts come back as int: longer buffers go in int-sized parts.
size_t clampLength(size_t length)
{
    return length > INT_MAX ? INT_MAX : length;
}

} // namespace

int TcpSocket::create(bool reuse)
{
    if (open(SOCK_STREAM, IPPROTO_TCP) != 0)
        return -1;
    setReuseAddr(reuse);
    return 0;
}

int TcpSocket::bind(const InetAddress& address, bool reuse)
{
    return create(reuse) == 0 ? bindTo(address) : -1;
}

int TcpSocket::listen(int backlog)
{
    return ::listen(m_fd, backlog) == 0 ? 0 : -1;
}

int TcpSocket::accept(int& fd)
{
    const int accepted = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted < 0)
        return -1;
    fd = accepted;
    return 0;
}

int TcpSocket::connect(const InetAddress& address)
{
    return connectTo(address);
}

int TcpSocket::send(const void* buffer, size_t length)
{
    return static_cast<int>(::send(m_fd, buffer, clampLength(length), MSG_NOSIGNAL));
}

int TcpSocket::recv(void* buffer, size_t length, bool waitAll)
{
    return static_cast<int>(::recv(m_fd, buffer, clampLength(length), waitAll ? MSG_WAITALL : 0));
}
