#include "board/RecordingDevices.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

// Fills `out` from the next queued reply, zeros after it.
void answer(std::deque<std::vector<uint8_t>>& replies, uint8_t* out, size_t length)
{
    memset(out, 0, length);
    if (replies.empty())
        return;
    const std::vector<uint8_t>& reply = replies.front();
    memcpy(out, reply.data(), std::min(length, reply.size()));
    replies.pop_front();
}

} // namespace

void RecordingSpiDevice::queueReply(std::vector<uint8_t> reply)
{
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_replies.push_back(std::move(reply));
}

std::vector<RecordingSpiDevice::Transfer> RecordingSpiDevice::transfers() const
{
    std::lock_guard<std::mutex> lock(m_recordMutex);
    return m_transfers;
}

int RecordingSpiDevice::exchange(const spi_ioc_transfer& transfer, const uint8_t* tx, uint8_t* rx)
{
    Transfer seen;
    seen.tx.assign(tx, tx + transfer.len);
    seen.length = transfer.len;
    seen.speedHz = transfer.speed_hz;
    seen.bitsPerWord = transfer.bits_per_word;
    seen.mode = settings().mode;
    seen.csChange = transfer.cs_change;
    seen.delayUsecs = transfer.delay_usecs;
    seen.hasTx = transfer.tx_buf != 0;
    seen.hasRx = transfer.rx_buf != 0;
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_transfers.push_back(std::move(seen));
    answer(m_replies, rx, transfer.len);
    return 0;
}

void RecordingI2cTarget::queueReply(std::vector<uint8_t> reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies.push_back(std::move(reply));
}

std::vector<RecordingI2cTarget::Transaction> RecordingI2cTarget::transactions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transactions;
}

int RecordingI2cTarget::transfer(i2c_msg* messages, size_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Transaction transaction;
    for (size_t i = 0; i < count; ++i) {
        i2c_msg& msg = messages[i];
        if (msg.flags & I2C_M_RD)
            answer(m_replies, msg.buf, msg.len);
        transaction.push_back(Message{msg.addr, msg.flags, msg.len, std::vector<uint8_t>(msg.buf, msg.buf + msg.len)});
    }
    m_transactions.push_back(std::move(transaction));
    return 0;
}

} // namespace sim
