#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class SimBoard;

// One open file of a device model: what a descriptor handed out by the board
// refers to. Operations answer the way the kernel does: a count or 0 on
// success, a negative errno on failure. The board serialises nothing: a model
// guards its own state.
class OpenFile
{
public:
    OpenFile();
    virtual ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // The board path it was opened by, and the open flags.
    const std::string& path() const { return m_path; }
    int flags() const { return m_flags; }

    virtual ssize_t read(void* buffer, size_t count);
    virtual ssize_t write(const void* buffer, size_t count);
    virtual int ioctl(unsigned long request, void* arg);
    virtual off_t lseek(off_t offset, int whence);
    // The poll events ready now (POLLIN, POLLOUT, POLLPRI, POLLERR...).
    virtual short pollEvents();
    // Maps the device's memory: 0 with the address, or a negative errno.
    virtual int mmap(size_t length, int protection, int flags, off_t offset, void** address);
    virtual int munmap(void* address, size_t length);

    // Wakes every thread polling this file so that it asks pollEvents() again.
    // Call it after a change that may make the file ready (it does not block).
    void notifyPollers();

private:
    friend class SimBoard;
    void addWaiter(int eventFd);
    void removeWaiter(int eventFd);

    std::string m_path;
    int m_flags = 0;
    std::mutex m_waitersMutex;
    std::vector<int> m_waiters;
};

// A piece of the board's hardware behind one device node, or behind a folder
// and every path below it (the board hands it the whole path).
class DeviceModel
{
public:
    DeviceModel();
    virtual ~DeviceModel();
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    // 0 with the new open file, or a negative errno.
    virtual int open(const std::string& path, int flags, std::shared_ptr<OpenFile>& file) = 0;
    // 0 when the path exists, else a negative errno; by default every path asked about exists.
    virtual int access(const std::string& path, int mode);

protected:
    // The board the model is attached to (null while detached): models log
    // their decoded traffic and consult injected faults there.
    SimBoard* board() const { return m_board.load(std::memory_order_acquire); }
    // Adds a line to the board's traffic log, when attached.
    void record(const std::string& device, const std::string& operation, const uint8_t* bytes, size_t count,
                long result) const;

private:
    friend class SimBoard;
    std::atomic<SimBoard*> m_board{nullptr};
};

} // namespace sim
