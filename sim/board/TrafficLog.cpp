#include "board/TrafficLog.h"

#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

namespace sim {

namespace {

bool matches(const std::string& device, const std::string& wanted)
{
    if (!wanted.empty() && wanted.back() == '/')
        return device.compare(0, wanted.size(), wanted) == 0;
    return device == wanted;
}

} // namespace

void TrafficLog::record(const std::string& device, const std::string& operation, const uint8_t* bytes,
                        size_t count, long result, unsigned long request)
{
    TrafficEntry entry;
    entry.timeNs = timespecToNs(platform().clock().now());
    entry.device = device;
    entry.operation = operation;
    if (bytes && count > 0)
        entry.bytes.assign(bytes, bytes + count);
    entry.result = result;
    entry.request = request;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(std::move(entry));
    while (m_entries.size() > m_limit)
        m_entries.pop_front();
}

std::vector<TrafficEntry> TrafficLog::entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_entries.begin(), m_entries.end()};
}

std::vector<TrafficEntry> TrafficLog::entries(const std::string& device) const
{
    std::vector<TrafficEntry> out;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const TrafficEntry& entry : m_entries)
        if (matches(entry.device, device))
            out.push_back(entry);
    return out;
}

std::vector<TrafficEntry> TrafficLog::entries(const std::string& device, const std::string& operation) const
{
    std::vector<TrafficEntry> out;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const TrafficEntry& entry : m_entries)
        if (entry.operation == operation && matches(entry.device, device))
            out.push_back(entry);
    return out;
}

void TrafficLog::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

void TrafficLog::setLimit(size_t maxEntries)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limit = maxEntries;
    while (m_entries.size() > m_limit)
        m_entries.pop_front();
}

} // namespace sim
