#pragma once

#include <cstddef>
#include <string>

namespace sim {

// The far end of a serial link on a pseudo-terminal: the system opens
// slavePath() with its serial-port class, and a test or a model answers on
// the master side here.
class PtyPeer
{
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Sends every byte to the system; false when the link is gone.
    bool send(const std::string& bytes);
    // Up to `count` bytes from the system, waiting at most timeoutMs for each
    // next byte; fewer when the time runs out or the link is gone.
    std::string receive(size_t count, int timeoutMs);
    // Hangs up: closes the master side, so the system sees its peer gone.
    void hangUp();

private:
    int m_master = -1;
    std::string m_slavePath;
};

} // namespace sim
