#pragma once

#include "base/platform/Platform.h"

#include <mutex>
#include <vector>

namespace testsupport {

// The system clock for reading time, but every setting of the wall clock is
// recorded instead of reaching the host. Installed for its lifetime.
class RecordingClock : public Clock
{
public:
    int setWallTime(const timeval& tv) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_settings.push_back(tv);
        return 0;
    }

    std::vector<timeval> settings() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_settings;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<timeval> m_settings;
    ScopedPlatform m_installed{this}; // last: gone first
};

} // namespace testsupport
