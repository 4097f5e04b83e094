#include "base/buses/Spi.h"

#include "base/platform/Platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace HardwareInterface {

Spi::Spi() = default;

Spi::~Spi()
{
    closeLocked();
}

int Spi::open(const char* path, uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz, uint8_t csChange,
              OpenStep* failed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
    OpenStep ignored;
    OpenStep& step = failed ? *failed : ignored;
    step = OpenStep::None;
    const int fd = platform().io().open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        printf("SpiFlashControl Open Motor Dev Fail (%s)\n", strerror(error));
        step = OpenStep::Open;
        errno = error;
        return -1;
    }
    const char* failure = nullptr;
    if (platform().io().ioctl(fd, SPI_IOC_WR_MODE, &mode) < 0) {
        failure = "can't set spi mode: %s\n";
        step = OpenStep::Mode;
    } else if (platform().io().ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bitsPerWord) < 0) {
        failure = "can't set bits per word: %s\n";
        step = OpenStep::BitsPerWord;
    } else if (platform().io().ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speedHz) < 0) {
        failure = "can't set max speed hz: %s\n";
        step = OpenStep::Speed;
    }
    if (failure) {
        const int error = errno;
        printf(failure, strerror(error));
        // A node left half set up must not look open.
        platform().io().close(fd);
        errno = error;
        return -1;
    }
    m_fd = fd;
    m_transfer = spi_ioc_transfer{};
    m_transfer.speed_hz = speedHz;
    m_transfer.delay_usecs = 0;
    m_transfer.bits_per_word = bitsPerWord;
    m_transfer.cs_change = csChange;
    return 0;
}

int Spi::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    closeLocked();
    return 0;
}

void Spi::closeLocked()
{
    if (m_fd > 0)
        platform().io().close(m_fd);
    m_fd = 0;
}

int Spi::message(const void* tx, void* rx, uint32_t length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!isOpen()) {
        errno = EBADF;
        return -1;
    }
    spi_ioc_transfer transfer = m_transfer;
    transfer.tx_buf = reinterpret_cast<uintptr_t>(tx);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(rx);
    transfer.len = length;
    return platform().io().ioctl(m_fd, SPI_IOC_MESSAGE(1), &transfer);
}

int Spi::write(const void* buffer, uint32_t length)
{
    const int rc = message(buffer, nullptr, length);
    if (rc < 0) {
        const int error = errno;
        printf("SPI Write Fail: ERRNO(%i), MSG(%s)\n", error, strerror(error));
        return -error;
    }
    return rc;
}

int Spi::read(void* buffer, uint32_t length)
{
    memset(buffer, 0, length);
    const int rc = message(nullptr, buffer, length);
    if (rc < 0) {
        const int error = errno;
        printf("Read Status Reg1 Fail: ERRNO(%i), MSG(%s)\n", error, strerror(error));
        return -error;
    }
    return rc;
}

int Spi::transfer(const void* tx, void* rx, uint32_t length)
{
    const int rc = message(tx, rx, length);
    if (rc < 0) {
        const int error = errno;
        printf("SPI Transfer Fail: ERRNO(%i), MSG(%s)\n", error, strerror(error));
        return -error;
    }
    return rc;
}

void Spi::loopbackTest()
{
    uint8_t tx[38] = {0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    memset(tx + 12, 0xFF, 18);
    const uint8_t tail[] = {0xDE, 0xAD, 0xBE, 0xEF, 0xBA, 0xAD, 0x7F, 0xF7};
    memcpy(tx + 30, tail, sizeof tail);
    uint8_t rx[sizeof tx] = {};
    transfer(tx, rx, sizeof tx);
    puts("***SPI RL TEST***");
    for (size_t i = 0; i < sizeof rx; ++i) {
        if (i % 6 == 0)
            puts("");
        printf("%.2X ", rx[i]);
    }
    puts("");
    puts("***SPI RL TEST***");
}

} // namespace HardwareInterface
