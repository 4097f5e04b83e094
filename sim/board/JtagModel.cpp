#include "board/JtagModel.h"

#include <cerrno>

namespace sim {

class JtagModel::File : public OpenFile
{
public:
    explicit File(std::shared_ptr<JtagModel> model) : m_model(std::move(model)) {}
    int ioctl(unsigned long request, void* arg) override { return m_model->ioctl(request, arg); }

private:
    const std::shared_ptr<JtagModel> m_model;
};

void JtagModel::setId(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_id = id;
}

void JtagModel::setStatus(uint32_t status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
}

void JtagModel::fixAfterReprograms(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fixAfter = n > 0 ? m_reprograms + n : 0;
}

int JtagModel::reprograms() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reprograms;
}

int JtagModel::statusReads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statusReads;
}

int JtagModel::open(const std::string&, int, std::shared_ptr<OpenFile>& file)
{
    file = std::make_shared<File>(shared_from_this());
    return 0;
}

int JtagModel::ioctl(unsigned long request, void* arg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (request) {
    case kGetId:
    case kGetStatusRegister:
        if (!arg)
            return -EFAULT;
        if (request == kGetStatusRegister)
            ++m_statusReads;
        *static_cast<uint32_t*>(arg) = request == kGetId ? m_id : m_status;
        return 0;
    case kReprogram:
        ++m_reprograms;
        if (m_fixAfter > 0 && m_reprograms >= m_fixAfter)
            m_status = kStatusGood;
        return 0;
    default:
        return -ENOTTY;
    }
}

} // namespace sim
