#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// One call that reached a device model, or one piece of traffic a model decoded.
struct TrafficEntry
{
    int64_t timeNs = 0;    // machine time (the Clock seam)
    std::string device;    // board path
    std::string operation; // "open", "read", "write", "ioctl"... or a model's own ("spi", "i2c-read")
    std::vector<uint8_t> bytes; // the data moved: written, read back, or the model's payload
    long result = 0;       // count or 0, or a negative errno
    unsigned long request = 0; // the ioctl request, else 0
};

// The board's record of device traffic, oldest first. It keeps the newest
// entries up to a limit, so a long simulated print cannot grow it without bound.
class TrafficLog
{
public:
    void record(const std::string& device, const std::string& operation, const uint8_t* bytes, size_t count,
                long result, unsigned long request = 0);

    std::vector<TrafficEntry> entries() const;
    // The entries of one device, or of every path below a folder ending in "/".
    std::vector<TrafficEntry> entries(const std::string& device) const;
    // Entries of a device with one operation.
    std::vector<TrafficEntry> entries(const std::string& device, const std::string& operation) const;
    void clear();
    void setLimit(size_t maxEntries);

private:
    mutable std::mutex m_mutex;
    std::deque<TrafficEntry> m_entries;
    size_t m_limit = 100000;
};

} // namespace sim
