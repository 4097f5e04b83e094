#pragma once

#include "base/platform/Clock.h"
#include "base/threads/FunctionThread.h"
#include "base/threads/StopSignal.h"
#include "board/PtyPeer.h"

#include <cstddef>
#include <string>

namespace sim {

// A chip at the far end of a serial link: a thread reads what the system
// sends on the pty and hands it to received(), which answers with send().
// Subclasses call start() once they are built and stop() first thing in
// their destructor, so the thread never sees a half-destroyed object.
class PtyResponder
{
public:
    PtyResponder();
    virtual ~PtyResponder();
    PtyResponder(const PtyResponder&) = delete;
    PtyResponder& operator=(const PtyResponder&) = delete;

    // The serial port the system opens.
    const std::string& path() const { return m_pty.slavePath(); }
    // Whether bytes from the system wait unread (the responder is busy).
    bool inputPending() const;

protected:
    void start();
    void stop();
    // On the responder thread, with every chunk of bytes that came.
    virtual void received(const char* bytes, size_t count) = 0;
    bool send(const std::string& bytes) { return m_pty.send(bytes); }
    // Waits `ms` as the system waits for an answer (machine time, and at
    // least as much real time), so that a delay and the system's time-out
    // compare alike at any clock speed; false when the responder is stopping.
    bool sleepPeerMs(int ms) { return m_stop.sleepUntil(peerDeadlineAfterMs(ms)); }
    bool stopping() const { return m_stop.raised(); }

private:
    void run();

    PtyPeer m_pty;
    StopSignal m_stop;
    FunctionThread m_thread;
    bool m_started = false;
};

} // namespace sim
