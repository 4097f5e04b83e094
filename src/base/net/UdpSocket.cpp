#include "base/net/UdpSocket.h"

#include "base/net/DatagramReceive.h"

#include <netinet/in.h>
#include <sys/socket.h>

int UdpSocket::create(bool reuse)
{
    if (open(SOCK_DGRAM, 0) != 0)
        return -1;
    setReuseAddr(reuse);
    return 0;
}

int UdpSocket::bind(const InetAddress& address, bool reuse)
{
    return create(reuse) == 0 ? bindTo(address) : -1;
}

int UdpSocket::connect(const InetAddress& address)
{
    return connectTo(address);
}

int UdpSocket::sendTo(const void* buffer, size_t length, const InetAddress& address)
{
    return ::sendto(m_fd, buffer, length, MSG_NOSIGNAL, address.sockAddr(), sizeof(sockaddr_in)) < 0 ? -1 : 0;
}

int UdpSocket::recvFrom(void* buffer, size_t length, InetAddress& from)
{
    return receiveDatagram(m_fd, buffer, length, from);
}
