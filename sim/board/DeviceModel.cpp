#include "board/DeviceModel.h"

#include "board/SimBoard.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sim {

OpenFile::OpenFile() = default;

OpenFile::~OpenFile() = default;

ssize_t OpenFile::read(void*, size_t)
{
    return -EINVAL;
}

ssize_t OpenFile::write(const void*, size_t)
{
    return -EINVAL;
}

int OpenFile::ioctl(unsigned long, void*)
{
    return -ENOTTY;
}

off_t OpenFile::lseek(off_t, int)
{
    return -ESPIPE;
}

short OpenFile::pollEvents()
{
    return POLLIN | POLLRDNORM | POLLOUT | POLLWRNORM;
}

int OpenFile::mmap(size_t, int, int, off_t, void**)
{
    return -ENODEV;
}

int OpenFile::munmap(void*, size_t)
{
    return 0;
}

void OpenFile::notifyPollers()
{
    const uint64_t one = 1;
    std::lock_guard<std::mutex> lock(m_waitersMutex);
    for (int fd : m_waiters) {
        // Fails only when the counter is full, and then the poller is awake anyway.
        const ssize_t written = ::write(fd, &one, sizeof one);
        (void)written;
    }
}

void OpenFile::addWaiter(int eventFd)
{
    std::lock_guard<std::mutex> lock(m_waitersMutex);
    m_waiters.push_back(eventFd);
}

void OpenFile::removeWaiter(int eventFd)
{
    std::lock_guard<std::mutex> lock(m_waitersMutex);
    auto it = std::find(m_waiters.begin(), m_waiters.end(), eventFd);
    if (it != m_waiters.end())
        m_waiters.erase(it);
}

DeviceModel::DeviceModel() = default;

DeviceModel::~DeviceModel() = default;

int DeviceModel::access(const std::string&, int)
{
    return 0;
}

void DeviceModel::record(const std::string& device, const std::string& operation, const uint8_t* bytes,
                         size_t count, long result) const
{
    if (SimBoard* b = board())
        b->traffic().record(device, operation, bytes, count, result);
}

} // namespace sim
