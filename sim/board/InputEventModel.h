#pragma once

#include "board/DeviceModel.h"

#include <linux/input.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

// A Linux input-event device ("/dev/input/eventN"): every open file gets its
// own queue of struct input_event records, as evdev clients do. A read takes
// as many whole records as fit; with none queued it fails with -EAGAIN (it
// never blocks: poll for POLLIN first).
class InputEventModel : public DeviceModel, public std::enable_shared_from_this<InputEventModel>
{
public:
    static constexpr const char* kPath = "/dev/input/event0";

    // Queues one record, stamped with the machine time, for every open file.
    void queueEvent(uint16_t type, uint16_t code, int32_t value);
    // A key event followed by its synchronisation record.
    void key(uint16_t code, int32_t value);
    // The device is removed: open files poll POLLERR | POLLHUP and reads fail with ENODEV.
    void unplug();

    int open(const std::string& path, int flags, std::shared_ptr<OpenFile>& file) override;

private:
    class File;
    std::vector<std::shared_ptr<File>> openFiles();
    std::mutex m_mutex;
    std::vector<std::weak_ptr<File>> m_files;
};

} // namespace sim
