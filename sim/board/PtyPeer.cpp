#include "board/PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {

PtyPeer::PtyPeer()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        throw std::runtime_error(std::string("posix_openpt: ") + strerror(errno));
    char name[128];
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 || ptsname_r(m_master, name, sizeof name) != 0) {
        const int error = errno;
        ::close(m_master);
        throw std::runtime_error(std::string("pseudo-terminal set-up: ") + strerror(error));
    }
    m_slavePath = name;
}

PtyPeer::~PtyPeer()
{
    hangUp();
}

bool PtyPeer::send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return done == bytes.size();
}

std::string PtyPeer::receive(size_t count, int timeoutMs)
{
    std::string out;
    char buffer[4096];
    while (out.size() < count && m_master >= 0) {
        pollfd entry{m_master, POLLIN, 0};
        const int rc = ::poll(&entry, 1, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        const ssize_t n = ::read(m_master, buffer, std::min(sizeof buffer, count - out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

void PtyPeer::hangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

} // namespace sim
