#include "base/net/DatagramReceive.h"

#include <sys/socket.h>

#include <climits>

int receiveDatagram(int fd, void* buffer, size_t length, InetAddress& from)
{
    socklen_t size = sizeof(sockaddr_in);
    const ssize_t received = recvfrom(fd, buffer, length > INT_MAX ? INT_MAX : length, 0, from.sockAddr(), &size);
    return received < 0 ? -1 : static_cast<int>(received);
}
