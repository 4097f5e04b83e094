#pragma once

#include "base/net/Socket.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

// A UDP socket bound to a multicast group and port and joined to the group
// on one interface: only datagrams sent to that group and port arrive.
class MulticastSocket : public Socket
{
public:
    MulticastSocket();

    // Opens (closing a socket still open), binds to the group address and
    // port and joins the group on the interface address: 0, or -1 with no
    // socket left open.
    int open(const std::string& group, uint16_t port, const std::string& interfaceAddress);
    // One datagram: its length or -1; `from` gets the sender.
    int recvFrom(void* buffer, size_t length, InetAddress& from);

private:
    ip_mreq m_membership;
};
