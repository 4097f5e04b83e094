#include "base/threads/StopSignal.h"

#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// Without a descriptor a sleep looks at the flag this often.
constexpr int64_t kStepWithoutFdNs = 10 * 1000000;

int makeEventFd()
{
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        logger()->write(LogError, "%s, %d: %s", "StopSignal", __LINE__, strerror(errno));
    return fd;
}

} // namespace

StopSignal::StopSignal() : m_fd(makeEventFd()) {}

StopSignal::~StopSignal()
{
    if (m_fd >= 0)
        close(m_fd);
}

void StopSignal::raise()
{
    std::lock_guard<std::mutex> lock(m_change);
    if (m_raised.exchange(true) || m_fd < 0)
        return;
    const uint64_t one = 1;
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void StopSignal::clear()
{
    std::lock_guard<std::mutex> lock(m_change);
    if (!m_raised.exchange(false) || m_fd < 0)
        return;
    uint64_t count = 0;
    while (::read(m_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool StopSignal::sleepMs(int ms)
{
    if (ms <= 0)
        return !raised();
    return sleepMachineMs(ms, [this](const timespec& deadline) { return sleepUntil(deadline); }) && !raised();
}

bool StopSignal::sleepUntil(const timespec& deadline)
{
    const int64_t endNs = timespecToNs(deadline);
    for (;;) {
        if (raised())
            return false;
        const int64_t leftNs = endNs - timespecToNs(kernelMonotonicNow());
        if (leftNs <= 0)
            return !raised();
        const timespec step = nsToTimespec(m_fd >= 0 ? leftNs : std::min(leftNs, kStepWithoutFdNs));
        pollfd entry{m_fd, POLLIN, 0};
        // A signal, or the end of the step, comes back to the tests above.
        if (ppoll(&entry, 1, &step, nullptr) < 0 && errno != EINTR) {
            // A poll that fails at once must not spin: wait a step on the clock alone.
            const timespec pause = nsToTimespec(std::min(leftNs, kStepWithoutFdNs));
            nanosleep(&pause, nullptr);
        }
    }
}
