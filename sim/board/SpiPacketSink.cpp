#include "board/SpiPacketSink.h"

#include <boost/crc.hpp>

#include <cstring>

namespace sim {

namespace {

constexpr size_t kHeader = 16;
constexpr uint32_t kPageBytes = 256;

uint32_t le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t xmodem(const uint8_t* bytes, size_t count)
{
    boost::crc_optimal<16, 0x1021, 0, 0, false, false> crc;
    crc.process_bytes(bytes, count);
    return crc.checksum();
}

bool isMarker(const uint8_t* p, uint8_t a, uint8_t b)
{
    return p[0] == a && p[1] == b;
}

} // namespace

void SpiPacketSink::startBitstream()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = Bitstream::Receiving;
    m_bitstream.clear();
    m_pageSequence = Sequence();
}

SpiPacketSink::Bitstream SpiPacketSink::bitstreamState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

std::vector<uint8_t> SpiPacketSink::bitstream() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bitstream;
}

std::vector<uint8_t> SpiPacketSink::dataBlock() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data;
}

std::vector<SpiPacketSink::Header> SpiPacketSink::headers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_headers;
}

std::vector<SpiPacketSink::LinePacket> SpiPacketSink::linePackets() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

std::vector<std::vector<uint8_t>> SpiPacketSink::lines(size_t perLine) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::vector<uint8_t>> result;
    for (size_t i = 0; perLine > 0 && i + perLine <= m_lines.size(); i += perLine) {
        std::vector<uint8_t> line;
        for (size_t k = i; k < i + perLine; ++k)
            line.insert(line.end(), m_lines[k].payload.begin(), m_lines[k].payload.end());
        result.push_back(std::move(line));
    }
    return result;
}

std::vector<std::string> SpiPacketSink::errors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
}

void SpiPacketSink::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = Bitstream::Idle;
    m_bitstream.clear();
    m_data.clear();
    m_headers.clear();
    m_lines.clear();
    m_errors.clear();
    m_dataSequence = Sequence();
    m_pageSequence = Sequence();
}

int SpiPacketSink::exchange(const spi_ioc_transfer& transfer, const uint8_t* tx, uint8_t* rx)
{
    const size_t length = transfer.len;
    for (size_t i = 1; i < length; ++i)
        rx[i] = tx[i - 1];
    std::lock_guard<std::mutex> lock(m_mutex);
    if (length >= 4 && (isMarker(tx, 0xFA, 0xAF) || isMarker(tx, 0xF5, 0x5F)))
        takeLinePacket(tx, length);
    else if (length >= 1 && (tx[0] == 1 || tx[0] == 2))
        takeDataPacket(tx, length);
    else if (length >= 1 && tx[0] != 0)
        fault("unknown packet type " + std::to_string(tx[0]));
    // Type 0 carries nothing: the readback test's shift pattern.
    return 0;
}

void SpiPacketSink::takeLinePacket(const uint8_t* tx, size_t length)
{
    const bool first = isMarker(tx, 0xFA, 0xAF);
    if (first)
        m_lines.clear();
    else if (m_lines.empty())
        fault("line packet before the first of its transfer");
    if (tx[length - 2] != 0 || tx[length - 1] != 0)
        fault("line packet without its two zero bytes");
    m_lines.push_back({first, std::vector<uint8_t>(tx + 2, tx + length - 2)});
}

void SpiPacketSink::takeDataPacket(const uint8_t* tx, size_t length)
{
    if (length < kHeader) {
        fault("packet of " + std::to_string(length) + " bytes is shorter than its header");
        return;
    }
    Header header;
    header.type = tx[0];
    header.position = tx[1];
    header.index = le32(tx + 4);
    header.length = le32(tx + 8);
    header.crc = le32(tx + 12);
    m_headers.push_back(header);
    const uint8_t* payload = tx + kHeader;
    const size_t errorsBefore = m_errors.size();
    if (tx[2] != 0 || tx[3] != 0)
        fault("header bytes 2-3 not zero");
    if (header.length != length - kHeader)
        fault("length field " + std::to_string(header.length) + " for " + std::to_string(length - kHeader) +
              " payload bytes");
    if (header.position > 2)
        fault("position " + std::to_string(header.position));

    const bool isPage = header.type == 2;
    Sequence& sequence = isPage ? m_pageSequence : m_dataSequence;
    if (header.position == 0) {
        sequence = Sequence{true, 0};
        if (!isPage)
            m_data.clear();
    } else if (!sequence.open) {
        fault("packet at position " + std::to_string(header.position) + " without a first packet");
    }
    if (header.index != sequence.nextIndex)
        fault("index " + std::to_string(header.index) + " where " + std::to_string(sequence.nextIndex) +
              " was due");
    sequence.nextIndex = header.index + 1;
    if (header.position == 2)
        sequence.open = false;

    const size_t payloadBytes = std::min<size_t>(header.length, length - kHeader);
    if (!isPage) {
        if (header.crc != 0)
            fault("data packet with a CRC field");
        m_data.insert(m_data.end(), payload, payload + payloadBytes);
        return;
    }
    if (m_state != Bitstream::Receiving)
        fault("bitstream page outside a bitstream transfer");
    if (header.length != kPageBytes)
        fault("bitstream page of " + std::to_string(header.length) + " bytes");
    if (header.crc != xmodem(payload, payloadBytes))
        fault("bitstream page " + std::to_string(header.index) + " fails its CRC");
    m_bitstream.insert(m_bitstream.end(), payload, payload + payloadBytes);
    if (m_errors.size() != errorsBefore && m_state == Bitstream::Receiving)
        m_state = Bitstream::Corrupt;
    else if (header.position == 2 && m_state == Bitstream::Receiving)
        m_state = Bitstream::Complete;
}

void SpiPacketSink::fault(const std::string& what)
{
    m_errors.push_back(what);
}

} // namespace sim
