#pragma once

#include "base/platform/SysIo.h"
#include "board/DeviceModel.h"
#include "board/FaultInjector.h"
#include "board/TrafficLog.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace sim {

// The simulated board behind the SysIo seam: chosen device paths go to device
// models, every other path and descriptor to libc unchanged. Install it as the
// platform's io seam (Platform.h), for example with ScopedPlatform(&board).
//
// A model's file is handed out as a real kernel descriptor (an eventfd that
// only reserves the number), so descriptor numbers never clash with real
// ones and stay above 0. poll() waits in the kernel on the caller's real
// descriptors together with a per-thread eventfd that the polled model files
// signal on a change (OpenFile::notifyPollers); a set that mixes model files
// with pipes or sockets therefore wakes on whichever is first, with nothing
// polled in a loop.
class SimBoard : public SysIo
{
public:
    SimBoard();
    ~SimBoard() override;

    // Routes a device node, or a folder and every path below it, to a model;
    // the longest attached path that matches wins. Replaces an earlier model there.
    void attach(const std::string& path, std::shared_ptr<DeviceModel> model);
    void detach(const std::string& path);

    TrafficLog& traffic() { return m_traffic; }
    FaultInjector& faults() { return m_faults; }

    // Model files open now: those opened by `path`, or below a folder ending in "/".
    int openFiles(const std::string& path) const;

    int open(const char* path, int flags, mode_t mode = 0) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;
    void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) override;
    int munmap(void* address, size_t length) override;
    off_t lseek(int fd, off_t offset, int whence) override;
    int access(const char* path, int mode) override;

private:
    std::shared_ptr<DeviceModel> modelFor(const std::string& path) const;
    std::shared_ptr<OpenFile> fileFor(int fd) const;
    // Records the call and turns a kernel-style result into the libc style.
    long finish(const std::string& device, IoOp op, long result, const void* bytes = nullptr, size_t count = 0,
                unsigned long request = 0);

    struct Mapping
    {
        std::shared_ptr<OpenFile> file;
        size_t length;
    };

    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<DeviceModel>> m_models;
    std::unordered_map<int, std::shared_ptr<OpenFile>> m_files;
    std::map<void*, Mapping> m_mappings;
    TrafficLog m_traffic;
    FaultInjector m_faults;
};

} // namespace sim
