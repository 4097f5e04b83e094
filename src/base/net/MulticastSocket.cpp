#include "base/net/MulticastSocket.h"

#include "base/net/DatagramReceive.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

MulticastSocket::MulticastSocket()
{
    memset(&m_membership, 0, sizeof m_membership);
}

int MulticastSocket::open(const std::string& group, uint16_t port, const std::string& interfaceAddress)
{
    if (Socket::open(SOCK_DGRAM, 0) != 0)
        return -1;
    const InetAddress groupAddress(group, port);
    m_membership.imr_multiaddr.s_addr = inet_addr(group.c_str());
    m_membership.imr_interface.s_addr = inet_addr(interfaceAddress.c_str());
    if (setReuseAddr(true) != 0)
        return closeAfterFailure();
    if (bindTo(groupAddress) != 0)
        return -1;
    if (setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m_membership, sizeof m_membership) != 0)
        return closeAfterFailure();
    return 0;
}

int MulticastSocket::recvFrom(void* buffer, size_t length, InetAddress& from)
{
    return receiveDatagram(m_fd, buffer, length, from);
}
