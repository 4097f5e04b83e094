#pragma once

#include "base/net/InetAddress.h"

// The descriptor of an IPv4 socket and the operations every kind shares.
// A plain value: copies share the descriptor, and nothing closes it but
// close(). Results are 0 for success and -1 for failure (errno as the
// failing call left it) unless stated.
//
// Descriptors are close-on-exec, so programs started by the shell never
// inherit a socket.
class Socket
{
public:
    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

    // Time-outs of the blocking calls, in milliseconds; get*() answer -1 on failure.
    int setRecvTimeout(int ms);
    int setSendTimeout(int ms);
    int getRecvTimeout() const;
    int getSendTimeout() const;
    int setBlocking(bool blocking);
    int setReuseAddr(bool reuse);
    int getPeerName(InetAddress& address) const;
    int getSockName(InetAddress& address) const;

    // Waits up to ms milliseconds for the socket to become readable /
    // writable: 1 ready, 0 time-out, -1 error. Signals do not cut the wait short.
    int waitReadable(int ms) const;
    int waitWritable(int ms) const;

    // Shuts both directions down and closes: the result of close(), or -1
    // when no socket was open. The descriptor is -1 afterwards.
    int close();

protected:
    Socket() = default;
    // Opens a new socket of the type, closing one still open first.
    int open(int type, int protocol);
    int setTimeout(int option, int ms);
    int getTimeout(int option) const;
    int wait(short events, int ms) const;
    // Binds, closing the socket when that fails.
    int bindTo(const InetAddress& address);
    int connectTo(const InetAddress& address);
    // Closes after a failed step, keeping that step's errno; answers -1.
    int closeAfterFailure();

    int m_fd = -1;
};
