#pragma once

#include "board/DeviceModel.h"

#include <linux/i2c.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace sim {

// A chip on an I2C bus, at one 7-bit address.
class I2cTarget
{
public:
    virtual ~I2cTarget();
    // The messages of one transaction addressed to this chip, in order, as
    // the caller built them (i2c_msg: address, flags with I2C_M_RD for reads,
    // length, buffer). A read fills its buffer. 0, or a negative errno that
    // fails the whole transaction (-ENXIO: the chip did not answer its address).
    virtual int transfer(i2c_msg* messages, size_t count) = 0;
};

// An i2c-dev bus node: answers I2C_RDWR the way the kernel does and hands
// the messages to the chip at their address; an address where no chip
// answers fails with -ENXIO. Every message is logged as "i2c-write" with the
// bytes sent or "i2c-read" with the bytes received.
class I2cBusModel : public DeviceModel, public std::enable_shared_from_this<I2cBusModel>
{
public:
    // The kernel's limits on one I2C_RDWR call.
    static constexpr unsigned int kMaxMessages = 42;
    static constexpr unsigned int kMaxMessageBytes = 8192;

    void attachTarget(uint16_t address, std::shared_ptr<I2cTarget> target);
    void detachTarget(uint16_t address);

    int open(const std::string& path, int flags, std::shared_ptr<OpenFile>& file) override;

private:
    class File;
    int ioctl(const std::string& device, unsigned long request, void* arg);
    int transaction(const std::string& device, i2c_msg* messages, unsigned int count);

    std::mutex m_mutex; // one transaction on the bus at a time
    std::map<uint16_t, std::shared_ptr<I2cTarget>> m_targets;
};

} // namespace sim
