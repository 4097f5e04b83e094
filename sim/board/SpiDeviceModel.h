#pragma once

#include "board/DeviceModel.h"

#include <linux/spi/spidev.h>

#include <cstdint>
#include <mutex>

namespace sim {

// A chip on an spidev node. The base answers the spidev ioctls the way the
// kernel does (mode, word size and clock kept per device; SPI_IOC_MESSAGE(n)
// decoded from the caller's spi_ioc_transfer records) and hands each transfer
// to exchange(). Every transfer is also logged as "spi" with the bytes sent.
class SpiDeviceModel : public DeviceModel, public std::enable_shared_from_this<SpiDeviceModel>
{
public:
    struct Settings
    {
        uint8_t mode = 0;
        uint8_t bitsPerWord = 8;
        uint32_t speedHz = 500000;
    };

    // The kernel refuses messages longer than its buffer.
    static constexpr uint32_t kMaxMessageBytes = 4096;

    Settings settings() const;

    int open(const std::string& path, int flags, std::shared_ptr<OpenFile>& file) override;

protected:
    // One transfer. `tx` and `rx` always hold transfer.len bytes (zeros were
    // sent when the caller gave no transmit buffer; the reply is dropped when
    // it gave no receive buffer); speed and word size are the effective ones.
    // 0 or a negative errno, which fails the whole message.
    virtual int exchange(const spi_ioc_transfer& transfer, const uint8_t* tx, uint8_t* rx) = 0;

private:
    class File;
    int ioctl(const std::string& device, unsigned long request, void* arg);
    int message(const std::string& device, const spi_ioc_transfer* transfers, unsigned int count);

    mutable std::mutex m_mutex;
    Settings m_settings;
};

} // namespace sim
