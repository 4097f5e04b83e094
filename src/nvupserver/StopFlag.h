#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace nvupserver {

// A stop request a transfer sees at every progress report and that cuts the
// pause between attempts short.
class StopFlag
{
public:
    void set();
    void clear();
    bool isSet() const { return m_set.load(); }
    // Waits up to ms milliseconds; true when the flag is (or becomes) set.
    bool waitFor(int ms);

private:
    std::atomic<bool> m_set{false};
    std::mutex m_mutex;
    std::condition_variable m_cond;
};

} // namespace nvupserver
