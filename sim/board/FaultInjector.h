#pragma once

#include <list>
#include <mutex>
#include <string>

namespace sim {

// The calls the board can make fail.
enum class IoOp { Open, Close, Read, Write, Ioctl, Poll, Mmap, Lseek, Access };

const char* ioOpName(IoOp op);

// Planned failures: the next N calls of an operation on a device fail with
// an errno value, without reaching the model. Plans on the same device and
// operation are used in the order they were made.
class FaultInjector
{
public:
    // `request` narrows an ioctl plan to one request (0: any).
    void failNext(const std::string& device, IoOp op, int count, int error, unsigned long request = 0);
    // The errno for this call, using up one planned failure, or 0 when it goes through.
    int take(const std::string& device, IoOp op, unsigned long request = 0);
    // Failures still planned for a device and operation.
    int pending(const std::string& device, IoOp op) const;
    void clear();

private:
    struct Plan
    {
        std::string device;
        IoOp op;
        unsigned long request;
        int count;
        int error;
    };

    mutable std::mutex m_mutex;
    std::list<Plan> m_plans;
};

} // namespace sim
