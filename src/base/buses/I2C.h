#pragma once

#include "base/threads/noncopyable.h"

#include <linux/i2c.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace HardwareInterface {

// One device on an i2c-dev bus node. Objects on the same node share one
// descriptor through a process-wide table with a reference count; the node is
// closed when the last of them lets go. Any thread may use an object: each
// transfer is one transaction whose messages are built for that call, and
// transfers, open and close of one object take turns.
class I2C : noncopyable
{
public:
    I2C();
    ~I2C();

    // The shared descriptor (> 0), or -1. Opening again lets go of the previous node first.
    int open(const std::string& path, uint16_t address);
    int close();
    bool isOpen() const { return m_fd.load() > 0; }

    // Writes txLength bytes, then reads rxLength bytes in the same transaction
    // (a repeated start between them); 0 or the negative errno.
    int read(const uint8_t* txBuf, uint16_t txLength, uint8_t* rxBuf, uint16_t rxLength);
    // Writes 1 to 63 bytes, register address included; 0 or the negative errno.
    int write(const uint8_t* buf, int count);
    // Writes a command byte followed by 1 to 63 data bytes; 0 or the negative errno.
    int writeCommand(uint8_t command, const uint8_t* data, int count);

private:
    // The caller's messages, addressed to the device, as one transaction;
    // `failure` is printed with the errno when it fails.
    int transact(i2c_msg* messages, uint32_t count, const char* failure);

    std::mutex m_mutex; // one transfer, open or close at a time
    std::atomic<int> m_fd{0};
    uint16_t m_address = 0;
};

} // namespace HardwareInterface
