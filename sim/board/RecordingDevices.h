#pragma once

#include "board/I2cBusModel.h"
#include "board/SpiDeviceModel.h"

#include <deque>
#include <mutex>
#include <vector>

namespace sim {

// Stand-ins for chips not modelled yet: they keep everything the system sent
// and answer with replies queued by the test, then zeros.

class RecordingSpiDevice : public SpiDeviceModel
{
public:
    struct Transfer
    {
        std::vector<uint8_t> tx;
        uint32_t length = 0;
        uint32_t speedHz = 0;
        uint8_t bitsPerWord = 0;
        uint8_t mode = 0;
        uint8_t csChange = 0;
        uint16_t delayUsecs = 0;
        bool hasTx = false; // the caller gave a transmit buffer
        bool hasRx = false; // the caller gave a receive buffer
    };

    void queueReply(std::vector<uint8_t> reply);
    std::vector<Transfer> transfers() const;

protected:
    int exchange(const spi_ioc_transfer& transfer, const uint8_t* tx, uint8_t* rx) override;

private:
    mutable std::mutex m_recordMutex;
    std::vector<Transfer> m_transfers;
    std::deque<std::vector<uint8_t>> m_replies;
};

class RecordingI2cTarget : public I2cTarget
{
public:
    struct Message
    {
        uint16_t address = 0;
        uint16_t flags = 0;
        uint16_t length = 0;
        std::vector<uint8_t> data; // bytes written, or bytes answered to a read
    };
    using Transaction = std::vector<Message>;

    void queueReply(std::vector<uint8_t> reply);
    std::vector<Transaction> transactions() const;

    int transfer(i2c_msg* messages, size_t count) override;

private:
    mutable std::mutex m_mutex;
    std::vector<Transaction> m_transactions;
    std::deque<std::vector<uint8_t>> m_replies;
};

} // namespace sim
