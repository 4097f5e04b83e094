#include "board/I2cBusModel.h"

#include <linux/i2c-dev.h>

#include <cerrno>

namespace sim {

I2cTarget::~I2cTarget() = default;

class I2cBusModel::File : public OpenFile
{
public:
    explicit File(std::shared_ptr<I2cBusModel> model) : m_model(std::move(model)) {}
    int ioctl(unsigned long request, void* arg) override { return m_model->ioctl(path(), request, arg); }

private:
    const std::shared_ptr<I2cBusModel> m_model;
};

void I2cBusModel::attachTarget(uint16_t address, std::shared_ptr<I2cTarget> target)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_targets[address] = std::move(target);
}

void I2cBusModel::detachTarget(uint16_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_targets.erase(address);
}

int I2cBusModel::open(const std::string&, int, std::shared_ptr<OpenFile>& file)
{
    file = std::make_shared<File>(shared_from_this());
    return 0;
}

int I2cBusModel::ioctl(const std::string& device, unsigned long request, void* arg)
{
    if (request != I2C_RDWR)
        return -ENOTTY;
    const auto* data = static_cast<const i2c_rdwr_ioctl_data*>(arg);
    if (!data || !data->msgs)
        return -EFAULT;
    if (data->nmsgs > kMaxMessages)
        return -EINVAL;
    for (unsigned int i = 0; i < data->nmsgs; ++i)
        if (data->msgs[i].len > kMaxMessageBytes || (data->msgs[i].len && !data->msgs[i].buf))
            return -EINVAL;
    return transaction(device, data->msgs, data->nmsgs);
}

int I2cBusModel::transaction(const std::string& device, i2c_msg* messages, unsigned int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Consecutive messages to one address go to its chip together, so it sees
    // the repeated start between a command write and the read of its reply.
    for (unsigned int first = 0; first < count;) {
        unsigned int end = first + 1;
        while (end < count && messages[end].addr == messages[first].addr)
            ++end;
        auto it = m_targets.find(messages[first].addr);
        const int rc = it == m_targets.end() ? -ENXIO : it->second->transfer(messages + first, end - first);
        for (unsigned int i = first; i < end; ++i) {
            const bool read = messages[i].flags & I2C_M_RD;
            record(device, read ? "i2c-read" : "i2c-write", messages[i].buf, rc < 0 && read ? 0 : messages[i].len,
                   rc < 0 ? rc : messages[i].len);
        }
        if (rc < 0)
            return rc;
        first = end;
    }
    return static_cast<int>(count);
}

} // namespace sim
