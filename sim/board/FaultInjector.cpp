#include "board/FaultInjector.h"

namespace sim {

const char* ioOpName(IoOp op)
{
    switch (op) {
    case IoOp::Open: return "open";
    case IoOp::Close: return "close";
    case IoOp::Read: return "read";
    case IoOp::Write: return "write";
    case IoOp::Ioctl: return "ioctl";
    case IoOp::Poll: return "poll";
    case IoOp::Mmap: return "mmap";
    case IoOp::Lseek: return "lseek";
    case IoOp::Access: return "access";
    }
    return "?";
}

void FaultInjector::failNext(const std::string& device, IoOp op, int count, int error, unsigned long request)
{
    if (count <= 0 || error <= 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_plans.push_back(Plan{device, op, request, count, error});
}

int FaultInjector::take(const std::string& device, IoOp op, unsigned long request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_plans.begin(); it != m_plans.end(); ++it) {
        if (it->op != op || it->device != device || (it->request != 0 && it->request != request))
            continue;
        const int error = it->error;
        if (--it->count == 0)
            m_plans.erase(it);
        return error;
    }
    return 0;
}

int FaultInjector::pending(const std::string& device, IoOp op) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int count = 0;
    for (const Plan& plan : m_plans)
        if (plan.op == op && plan.device == device)
            count += plan.count;
    return count;
}

void FaultInjector::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_plans.clear();
}

} // namespace sim
