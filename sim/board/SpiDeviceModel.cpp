#include "board/SpiDeviceModel.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace sim {

class SpiDeviceModel::File : public OpenFile
{
public:
    explicit File(std::shared_ptr<SpiDeviceModel> model) : m_model(std::move(model)) {}
    int ioctl(unsigned long request, void* arg) override { return m_model->ioctl(path(), request, arg); }

private:
    const std::shared_ptr<SpiDeviceModel> m_model;
};

SpiDeviceModel::Settings SpiDeviceModel::settings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

int SpiDeviceModel::open(const std::string&, int, std::shared_ptr<OpenFile>& file)
{
    file = std::make_shared<File>(shared_from_this());
    return 0;
}

int SpiDeviceModel::ioctl(const std::string& device, unsigned long request, void* arg)
{
    if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE) {
        const unsigned int size = _IOC_SIZE(request);
        if (size % sizeof(spi_ioc_transfer) != 0)
            return -EINVAL;
        return message(device, static_cast<const spi_ioc_transfer*>(arg), size / sizeof(spi_ioc_transfer));
    }
    if (!arg)
        return -EFAULT;
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (request) {
    case SPI_IOC_WR_MODE: {
        const uint8_t mode = *static_cast<const uint8_t*>(arg);
        if (mode & ~(SPI_CPHA | SPI_CPOL | SPI_CS_HIGH | SPI_LSB_FIRST | SPI_3WIRE | SPI_LOOP | SPI_NO_CS | SPI_READY))
            return -EINVAL;
        m_settings.mode = mode;
        return 0;
    }
    case SPI_IOC_RD_MODE:
        *static_cast<uint8_t*>(arg) = m_settings.mode;
        return 0;
    case SPI_IOC_WR_BITS_PER_WORD: {
        const uint8_t bits = *static_cast<const uint8_t*>(arg);
        if (bits > 32)
            return -EINVAL;
        m_settings.bitsPerWord = bits ? bits : 8;
        return 0;
    }
    case SPI_IOC_RD_BITS_PER_WORD:
        *static_cast<uint8_t*>(arg) = m_settings.bitsPerWord;
        return 0;
    case SPI_IOC_WR_MAX_SPEED_HZ: {
        const uint32_t speed = *static_cast<const uint32_t*>(arg);
        if (speed == 0)
            return -EINVAL;
        m_settings.speedHz = speed;
        return 0;
    }
    case SPI_IOC_RD_MAX_SPEED_HZ:
        *static_cast<uint32_t*>(arg) = m_settings.speedHz;
        return 0;
    default:
        return -ENOTTY;
    }
}

int SpiDeviceModel::message(const std::string& device, const spi_ioc_transfer* transfers, unsigned int count)
{
    if (!transfers)
        return -EFAULT;
    uint64_t total = 0;
    for (unsigned int i = 0; i < count; ++i)
        total += transfers[i].len;
    if (total > kMaxMessageBytes)
        return -EMSGSIZE;
    const Settings deviceSettings = settings();
    for (unsigned int i = 0; i < count; ++i) {
        spi_ioc_transfer effective = transfers[i];
        if (effective.speed_hz == 0)
            effective.speed_hz = deviceSettings.speedHz;
        if (effective.bits_per_word == 0)
            effective.bits_per_word = deviceSettings.bitsPerWord;
        std::vector<uint8_t> tx(effective.len, 0);
        std::vector<uint8_t> rx(effective.len, 0);
        if (effective.tx_buf && effective.len)
            memcpy(tx.data(), reinterpret_cast<const void*>(static_cast<uintptr_t>(effective.tx_buf)), effective.len);
        const int rc = exchange(effective, tx.data(), rx.data());
        record(device, "spi", tx.data(), tx.size(), rc < 0 ? rc : static_cast<long>(effective.len));
        if (rc < 0)
            return rc;
        if (effective.rx_buf && effective.len)
            memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(effective.rx_buf)), rx.data(), effective.len);
    }
    return static_cast<int>(total);
}

} // namespace sim
