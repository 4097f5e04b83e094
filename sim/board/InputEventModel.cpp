#include "board/InputEventModel.h"

#include "base/platform/Platform.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {

class InputEventModel::File : public OpenFile
{
public:
    void push(const input_event& event)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(event);
        }
        notifyPollers();
    }

    void unplug()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_gone = true;
        }
        notifyPollers();
    }

    ssize_t read(void* buffer, size_t count) override
    {
        if (count < sizeof(input_event))
            return -EINVAL;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_gone)
            return -ENODEV;
        if (m_queue.empty())
            return -EAGAIN;
        size_t n = 0;
        while (!m_queue.empty() && (n + 1) * sizeof(input_event) <= count) {
            memcpy(static_cast<char*>(buffer) + n * sizeof(input_event), &m_queue.front(), sizeof(input_event));
            m_queue.pop_front();
            ++n;
        }
        return static_cast<ssize_t>(n * sizeof(input_event));
    }

    short pollEvents() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_gone)
            return POLLERR | POLLHUP;
        return m_queue.empty() ? 0 : POLLIN | POLLRDNORM;
    }

private:
    std::mutex m_mutex;
    bool m_gone = false;
    std::deque<input_event> m_queue;
};

std::vector<std::shared_ptr<InputEventModel::File>> InputEventModel::openFiles()
{
    std::vector<std::shared_ptr<File>> files;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.erase(std::remove_if(m_files.begin(), m_files.end(), [](const auto& f) { return f.expired(); }),
                  m_files.end());
    for (const auto& weak : m_files)
        if (auto file = weak.lock())
            files.push_back(std::move(file));
    return files;
}

void InputEventModel::unplug()
{
    for (const auto& file : openFiles())
        file->unplug();
}

void InputEventModel::queueEvent(uint16_t type, uint16_t code, int32_t value)
{
    const timespec now = platform().clock().now();
    input_event event{};
    // The kernel's field names: a 32-bit machine with a 64-bit time_t has no timeval here.
    event.input_event_sec = now.tv_sec;
    event.input_event_usec = now.tv_nsec / 1000;
    event.type = type;
    event.code = code;
    event.value = value;
    for (const auto& file : openFiles())
        file->push(event);
}

void InputEventModel::key(uint16_t code, int32_t value)
{
    queueEvent(EV_KEY, code, value);
    queueEvent(EV_SYN, SYN_REPORT, 0);
}

int InputEventModel::open(const std::string&, int, std::shared_ptr<OpenFile>& file)
{
    auto opened = std::make_shared<File>();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.push_back(opened);
    }
    file = opened;
    return 0;
}

} // namespace sim
