#include "board/SimBoard.h"

#include "base/platform/Clock.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace sim {

namespace {

// Each polling thread's wake-up descriptor, signalled by the model files it waits on.
struct PollWaiter
{
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~PollWaiter()
    {
        if (fd >= 0)
            ::close(fd);
    }
    void drain() const
    {
        uint64_t count = 0;
        while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) {
        }
    }
};

thread_local PollWaiter t_waiter;

bool isBelow(const std::string& path, const std::string& folder)
{
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

int remainingMs(const timespec& deadline)
{
    const int64_t leftNs = timespecToNs(deadline) - timespecToNs(kernelMonotonicNow());
    return leftNs <= 0 ? 0 : static_cast<int>(std::min<int64_t>((leftNs + 999999) / 1000000, 1 << 30));
}

} // namespace

SimBoard::SimBoard() = default;

SimBoard::~SimBoard()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_models)
        entry.second->m_board.store(nullptr, std::memory_order_release);
    for (auto& entry : m_files)
        ::close(entry.first);
}

void SimBoard::attach(const std::string& path, std::shared_ptr<DeviceModel> model)
{
    model->m_board.store(this, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_models[path] = std::move(model);
}

void SimBoard::detach(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_models.find(path);
    if (it == m_models.end())
        return;
    it->second->m_board.store(nullptr, std::memory_order_release);
    m_models.erase(it);
}

int SimBoard::openFiles(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int count = 0;
    for (const auto& entry : m_files) {
        const std::string& opened = entry.second->path();
        if (opened == path || (!path.empty() && path.back() == '/' && opened.compare(0, path.size(), path) == 0))
            ++count;
    }
    return count;
}

std::shared_ptr<DeviceModel> SimBoard::modelFor(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<DeviceModel> found;
    size_t foundLength = 0;
    for (const auto& entry : m_models) {
        const std::string& attached = entry.first;
        if ((path == attached || isBelow(path, attached)) && (!found || attached.size() > foundLength)) {
            found = entry.second;
            foundLength = attached.size();
        }
    }
    return found;
}

std::shared_ptr<OpenFile> SimBoard::fileFor(int fd) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.find(fd);
    return it == m_files.end() ? nullptr : it->second;
}

long SimBoard::finish(const std::string& device, IoOp op, long result, const void* bytes, size_t count,
                      unsigned long request)
{
    m_traffic.record(device, ioOpName(op), static_cast<const uint8_t*>(bytes), count, result, request);
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return result;
}

int SimBoard::open(const char* path, int flags, mode_t mode)
{
    const std::shared_ptr<DeviceModel> model = modelFor(path);
    if (!model)
        return SysIo::open(path, flags, mode);
    if (const int error = m_faults.take(path, IoOp::Open))
        return static_cast<int>(finish(path, IoOp::Open, -error));
    std::shared_ptr<OpenFile> file;
    int rc = model->open(path, flags, file);
    if (rc == 0 && !file)
        rc = -ENODEV;
    if (rc < 0)
        return static_cast<int>(finish(path, IoOp::Open, rc));
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return static_cast<int>(finish(path, IoOp::Open, -errno));
    file->m_path = path;
    file->m_flags = flags;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files[fd] = file;
    }
    return static_cast<int>(finish(path, IoOp::Open, fd));
}

int SimBoard::close(int fd)
{
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_files.find(fd);
        if (it != m_files.end()) {
            file = std::move(it->second);
            m_files.erase(it);
        }
    }
    if (!file)
        return SysIo::close(fd);
    // The descriptor goes whatever the outcome, as with the kernel.
    ::close(fd);
    const int error = m_faults.take(file->path(), IoOp::Close);
    return static_cast<int>(finish(file->path(), IoOp::Close, -error));
}

ssize_t SimBoard::read(int fd, void* buffer, size_t count)
{
    const std::shared_ptr<OpenFile> file = fileFor(fd);
    if (!file)
        return SysIo::read(fd, buffer, count);
    if ((file->flags() & O_ACCMODE) == O_WRONLY)
        return finish(file->path(), IoOp::Read, -EBADF);
    if (const int error = m_faults.take(file->path(), IoOp::Read))
        return finish(file->path(), IoOp::Read, -error);
    const ssize_t n = file->read(buffer, count);
    return finish(file->path(), IoOp::Read, n, buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

ssize_t SimBoard::write(int fd, const void* buffer, size_t count)
{
    const std::shared_ptr<OpenFile> file = fileFor(fd);
    if (!file)
        return SysIo::write(fd, buffer, count);
    if ((file->flags() & O_ACCMODE) == O_RDONLY)
        return finish(file->path(), IoOp::Write, -EBADF, buffer, count);
    if (const int error = m_faults.take(file->path(), IoOp::Write))
        return finish(file->path(), IoOp::Write, -error, buffer, count);
    return finish(file->path(), IoOp::Write, file->write(buffer, count), buffer, count);
}

int SimBoard::ioctl(int fd, unsigned long request, void* arg)
{
    const std::shared_ptr<OpenFile> file = fileFor(fd);
    if (!file)
        return SysIo::ioctl(fd, request, arg);
    if (const int error = m_faults.take(file->path(), IoOp::Ioctl, request))
        return static_cast<int>(finish(file->path(), IoOp::Ioctl, -error, nullptr, 0, request));
    return static_cast<int>(finish(file->path(), IoOp::Ioctl, file->ioctl(request, arg), nullptr, 0, request));
}

int SimBoard::poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    std::vector<std::shared_ptr<OpenFile>> files(count);
    bool anyModel = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (nfds_t i = 0; i < count; ++i) {
            auto it = fds[i].fd >= 0 ? m_files.find(fds[i].fd) : m_files.end();
            if (it != m_files.end()) {
                files[i] = it->second;
                anyModel = true;
            }
        }
    }
    if (!anyModel)
        return SysIo::poll(fds, count, timeoutMs);
    for (nfds_t i = 0; i < count; ++i)
        if (files[i])
            if (const int error = m_faults.take(files[i]->path(), IoOp::Poll)) {
                errno = error;
                return -1;
            }
    if (t_waiter.fd < 0) {
        errno = ENOMEM;
        return -1;
    }

    // The kernel waits on the real descriptors and on this thread's waiter;
    // model entries are left out of its set (fd -1) and answered here.
    std::vector<pollfd> kernel(fds, fds + count);
    for (nfds_t i = 0; i < count; ++i)
        if (files[i])
            kernel[i].fd = -1;
    kernel.push_back(pollfd{t_waiter.fd, POLLIN, 0});
    t_waiter.drain();
    for (const auto& file : files)
        if (file)
            file->addWaiter(t_waiter.fd);

    const timespec deadline = kernelDeadlineAfterMs(timeoutMs);
    auto modelsReady = [&] {
        int ready = 0;
        for (nfds_t i = 0; i < count; ++i)
            if (files[i]) {
                fds[i].revents = static_cast<short>(files[i]->pollEvents() & (fds[i].events | POLLERR | POLLHUP));
                ready += fds[i].revents != 0;
            }
        return ready;
    };
    int result = 0;
    for (;;) {
        // Registered before looking, so a change after the look still wakes the kernel wait.
        int ready = modelsReady();
        const int waitMs = ready ? 0 : timeoutMs < 0 ? -1 : remainingMs(deadline);
        const int rc = ::poll(kernel.data(), count + 1, waitMs);
        if (rc < 0) {
            result = -1;
            break;
        }
        // At the time-out the models are asked once more: one that works its
        // state out from machine time (the axis's switch) may have changed
        // meanwhile although its thread had no turn to wake this wait.
        if (kernel[count].revents || (rc == 0 && waitMs != 0)) {
            t_waiter.drain();
            ready = modelsReady();
        }
        for (nfds_t i = 0; i < count; ++i)
            if (!files[i]) {
                fds[i].revents = kernel[i].revents;
                ready += fds[i].revents != 0;
            }
        if (ready > 0 || waitMs == 0 || (rc == 0 && timeoutMs >= 0)) {
            result = ready;
            break;
        }
    }
    const int error = errno;
    for (const auto& file : files)
        if (file)
            file->removeWaiter(t_waiter.fd);
    errno = error;
    return result;
}

void* SimBoard::mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset)
{
    const std::shared_ptr<OpenFile> file = fileFor(fd);
    if (!file)
        return SysIo::mmap(address, length, protection, flags, fd, offset);
    void* mapped = nullptr;
    int rc = m_faults.take(file->path(), IoOp::Mmap);
    rc = rc ? -rc : file->mmap(length, protection, flags, offset, &mapped);
    m_traffic.record(file->path(), ioOpName(IoOp::Mmap), nullptr, 0, rc < 0 ? rc : static_cast<long>(length));
    if (rc < 0) {
        errno = -rc;
        return MAP_FAILED;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mappings[mapped] = Mapping{file, length};
    return mapped;
}

int SimBoard::munmap(void* address, size_t length)
{
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_mappings.find(address);
        if (it != m_mappings.end()) {
            file = std::move(it->second.file);
            m_mappings.erase(it);
        }
    }
    if (!file)
        return SysIo::munmap(address, length);
    const int rc = file->munmap(address, length);
    m_traffic.record(file->path(), "munmap", nullptr, 0, rc);
    if (rc < 0) {
        errno = -rc;
        return -1;
    }
    return 0;
}

off_t SimBoard::lseek(int fd, off_t offset, int whence)
{
    const std::shared_ptr<OpenFile> file = fileFor(fd);
    if (!file)
        return SysIo::lseek(fd, offset, whence);
    if (const int error = m_faults.take(file->path(), IoOp::Lseek))
        return finish(file->path(), IoOp::Lseek, -error);
    return finish(file->path(), IoOp::Lseek, file->lseek(offset, whence));
}

int SimBoard::access(const char* path, int mode)
{
    const std::shared_ptr<DeviceModel> model = modelFor(path);
    if (!model)
        return SysIo::access(path, mode);
    if (const int error = m_faults.take(path, IoOp::Access))
        return static_cast<int>(finish(path, IoOp::Access, -error));
    return static_cast<int>(finish(path, IoOp::Access, model->access(path, mode)));
}

} // namespace sim
