#include "nvupserver/StopFlag.h"

#include <chrono>

namespace nvupserver {

void StopFlag::set()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
    m_cond.notify_all();
}

void StopFlag::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool StopFlag::waitFor(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // steady_clock: a change of the wall clock neither stretches nor cuts the pause.
    return m_cond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_set.load(); });
}

} // namespace nvupserver
