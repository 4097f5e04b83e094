#pragma once

#include "base/threads/noncopyable.h"

#include <atomic>
#include <mutex>

namespace HardwareInterface {

// A serial port through termios, raw 8-bit bytes. Any thread may use an
// object: calls take turns, so a write goes out whole even when a signal
// cuts it short, and nothing reads or writes a descriptor being closed. An
// exchange of several calls is the owner's to keep together. The descriptor
// is 0 while the port is closed.
class Uart : noncopyable
{
public:
    Uart();
    ~Uart();

    // 0, or -1 when the node cannot be opened or is no serial port.
    int open(const char* path, int baud, char parity, int dataBits, int stopBits);
    // The result of close, or 0 when not open.
    int close();
    bool isOpen() const { return m_fd.load() > 0; }

    // How long each wait for the next byte lasts.
    void setTimeout(int ms);

    // 0 when every byte was written, else -ENOENT.
    int write(const void* buffer, int length);
    // Bytes read, fewer than count when a wait for the next byte timed out or
    // the peer went away after some bytes; -ENOENT on a failed wait or when
    // the peer is gone before any byte came.
    int read(void* buffer, int count);
    // The length of the next line with its "\n" (no NUL added); -ENOENT for a
    // capacity below 2, a time-out (the partial line is dropped), a line
    // longer than the capacity, a failed wait or a peer that is gone.
    int recvLine(char* buffer, int capacity);

    // Discard what was received and not read yet; the result of tcflush.
    int flushInput();
    // Discard both directions' queues; the result of tcflush.
    int flush();

private:
    // 1 readable, 0 timed out, -1 failed (errno set).
    int waitReadable() const;
    int closeLocked();

    std::mutex m_mutex; // one call at a time
    int m_timeoutSec = 5;
    int m_timeoutUsec = 0;
    std::atomic<int> m_fd{0};
};

} // namespace HardwareInterface
