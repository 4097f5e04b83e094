#pragma once

#include "base/net/Socket.h"

#include <cstddef>

// A TCP socket: one system call per operation, no buffering or retries.
class TcpSocket : public Socket
{
public:
    TcpSocket() = default;

    // Opens a stream socket (closing one still open) and sets SO_REUSEADDR
    // as asked; the option's failure is not reported.
    int create(bool reuse = true);
    // create(), then binds; on failure the socket is closed again.
    int bind(const InetAddress& address, bool reuse = true);
    int listen(int backlog);
    // Accepts one connection and stores its descriptor in `fd`.
    int accept(int& fd);
    int connect(const InetAddress& address);

    // The byte count or -1. A peer that has gone gives -1 (EPIPE), never
    // SIGPIPE.
    int send(const void* buffer, size_t length);
    // The byte count, 0 at the end of the stream, or -1. With waitAll the
    // call returns once `length` bytes arrived (or the stream ended).
    int recv(void* buffer, size_t length, bool waitAll = false);
};
