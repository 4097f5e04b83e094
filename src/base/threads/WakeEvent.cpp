#include "base/threads/WakeEvent.h"

#include "base/log/LogWriter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

WakeEvent::WakeEvent() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_fd < 0)
        logger()->write(LogError, "%s, %d: %s", "WakeEvent", __LINE__, strerror(errno));
}

WakeEvent::~WakeEvent()
{
    if (m_fd >= 0)
        close(m_fd);
}

void WakeEvent::signal()
{
    const uint64_t one = 1;
    if (m_fd >= 0 && ::write(m_fd, &one, sizeof one) < 0 && errno != EAGAIN)
        logger()->write(LogError, "%s, %d: %s", "WakeEvent::signal", __LINE__, strerror(errno));
}

void WakeEvent::reset()
{
    uint64_t count = 0;
    if (m_fd >= 0)
        while (::read(m_fd, &count, sizeof count) < 0 && errno == EINTR) {
        }
}

bool WakeEvent::isSignalled() const
{
    pollfd entry{m_fd, POLLIN, 0};
    return m_fd >= 0 && ::poll(&entry, 1, 0) == 1;
}
