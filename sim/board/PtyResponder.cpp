#include "board/PtyResponder.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace sim {

PtyResponder::PtyResponder()
    : m_thread([this] {
          run();
          return nullptr;
      })
{
}

PtyResponder::~PtyResponder()
{
    stop();
}

void PtyResponder::start()
{
    if (!m_started)
        m_started = m_thread.start(false, PThread::defaultStackSize()) == 0;
}

void PtyResponder::stop()
{
    m_stop.raise();
    m_thread.join();
}

bool PtyResponder::inputPending() const
{
    pollfd entry{m_pty.masterFd(), POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN);
}

void PtyResponder::run()
{
    char buffer[4096];
    while (!m_stop.raised()) {
        pollfd entry{m_pty.masterFd(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, 20);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        const ssize_t n = (entry.revents & POLLIN) ? ::read(m_pty.masterFd(), buffer, sizeof buffer) : -1;
        if (n > 0) {
            received(buffer, static_cast<size_t>(n));
            continue;
        }
        // No port open on the system's side yet (or any more): the master
        // reports a hang-up until one is; look again shortly (in real time:
        // a fast machine clock must not make this spin).
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace sim
