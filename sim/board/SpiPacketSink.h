#pragma once

#include "board/SpiDeviceModel.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// The FPGA's SPI side. It takes the system's packets and checks them as the
// FPGA would: data and bitstream packets (16-byte header: type, position,
// index, length, and a CRC-16/XMODEM of each bitstream page) and line packets
// (a marker, the payload, two zero bytes). Data blocks and bitstreams are
// reassembled; every fault found is kept in errors(). Whatever it is sent,
// it shifts back one byte later, as the FPGA's readback path does.
class SpiPacketSink : public SpiDeviceModel
{
public:
    enum class Bitstream { Idle, Receiving, Complete, Corrupt };

    struct Header
    {
        uint8_t type = 0;
        uint8_t position = 0;
        uint32_t index = 0;
        uint32_t length = 0;
        uint32_t crc = 0;
    };

    struct LinePacket
    {
        bool first = false; // marked as the first packet of a transfer
        std::vector<uint8_t> payload;
    };

    // The FPGA was told a bitstream comes (the UART start command).
    void startBitstream();
    Bitstream bitstreamState() const;
    std::vector<uint8_t> bitstream() const;
    // The data block of the latest data transfer.
    std::vector<uint8_t> dataBlock() const;
    // Headers of every data and bitstream packet, in order.
    std::vector<Header> headers() const;
    // Line packets since the latest first-marked one.
    std::vector<LinePacket> linePackets() const;
    // The payloads of each `perLine` consecutive line packets, joined.
    std::vector<std::vector<uint8_t>> lines(size_t perLine) const;
    std::vector<std::string> errors() const;
    void clear();

protected:
    int exchange(const spi_ioc_transfer& transfer, const uint8_t* tx, uint8_t* rx) override;

private:
    // With m_mutex held.
    void takeLinePacket(const uint8_t* tx, size_t length);
    void takeDataPacket(const uint8_t* tx, size_t length);
    void fault(const std::string& what);

    struct Sequence
    {
        bool open = false;
        uint32_t nextIndex = 0;
    };

    mutable std::mutex m_mutex;
    Bitstream m_state = Bitstream::Idle;
    std::vector<uint8_t> m_bitstream;
    std::vector<uint8_t> m_data;
    std::vector<Header> m_headers;
    std::vector<LinePacket> m_lines;
    std::vector<std::string> m_errors;
    Sequence m_dataSequence;
    Sequence m_pageSequence;
};

} // namespace sim
