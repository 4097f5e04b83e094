#pragma once

#include "base/net/InetAddress.h"

#include <cstddef>

// One datagram from a socket: its length (cut to int) or -1; `from` gets
// the sender. Shared by the UDP and multicast sockets.
int receiveDatagram(int fd, void* buffer, size_t length, InetAddress& from);
