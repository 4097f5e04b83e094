#pragma once

#include "base/threads/noncopyable.h"

#include <linux/spi/spidev.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace HardwareInterface {

// An spidev node: full-duplex messages at the mode, word size and clock set
// at open. Any thread may use an object: each message is built for its call,
// and messages, open and close take turns, so none goes out half set up or
// to a descriptor being closed. The descriptor is 0 while the node is closed.
class Spi : noncopyable
{
public:
    Spi();
    ~Spi();

    // The step of open() that failed.
    enum class OpenStep { None, Open, Mode, BitsPerWord, Speed };

    // 0, or -1 when the node cannot be opened or refuses a setting (it is then
    // closed); errno holds the cause and `failed`, when given, the step.
    int open(const char* path, uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz, uint8_t csChange,
             OpenStep* failed = nullptr);
    int close();
    bool isOpen() const { return m_fd.load() > 0; }

    // Each is one message; the byte count or the negative errno.
    int write(const void* buffer, uint32_t length);
    // Zeroes the buffer first, so the device is clocked with zeros.
    int read(void* buffer, uint32_t length);
    int transfer(const void* tx, void* rx, uint32_t length);

    // Sends a fixed pattern and prints what came back; a wire with MOSI tied to MISO echoes it.
    void loopbackTest();

private:
    int message(const void* tx, void* rx, uint32_t length);
    void closeLocked();

    std::mutex m_mutex; // one message, open or close at a time
    std::atomic<int> m_fd{0};
    spi_ioc_transfer m_transfer{};
};

} // namespace HardwareInterface
