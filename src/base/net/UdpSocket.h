#pragma once

#include "base/net/Socket.h"

#include <cstddef>

// A UDP socket: one datagram per call.
class UdpSocket : public Socket
{
public:
    UdpSocket() = default;

    // Opens a datagram socket (closing one still open) and sets SO_REUSEADDR
    // as asked; the option's failure is not reported.
    int create(bool reuse = true);
    // create(), then binds; on failure the socket is closed again.
    int bind(const InetAddress& address, bool reuse = true);
    // Sets the default peer.
    int connect(const InetAddress& address);
    // Sends one datagram: 0 (not the byte count) or -1.
    int sendTo(const void* buffer, size_t length, const InetAddress& address);
    // Receives one datagram: its length or -1; `from` gets the sender.
    int recvFrom(void* buffer, size_t length, InetAddress& from);
};
