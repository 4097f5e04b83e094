// The FPGA's packet sink must catch the faults it is there to catch: a test
// that only ever feeds it good packets would not notice it taking bad ones.
#include "base/buses/Spi.h"
#include "base/platform/Platform.h"
#include "board/SimBoard.h"
#include "board/SpiPacketSink.h"

#include <gtest/gtest.h>

#include <boost/crc.hpp>

#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes page(uint8_t position, uint32_t index, uint8_t fill, int crcDelta = 0)
{
    Bytes packet(16 + 256, fill);
    std::fill(packet.begin(), packet.begin() + 16, 0);
    packet[0] = 2;
    packet[1] = position;
    packet[4] = static_cast<uint8_t>(index);
    packet[9] = 1; // 256
    boost::crc_optimal<16, 0x1021, 0, 0, false, false> crc;
    crc.process_bytes(packet.data() + 16, 256);
    const uint16_t value = static_cast<uint16_t>(crc.checksum() + crcDelta);
    packet[12] = static_cast<uint8_t>(value);
    packet[13] = static_cast<uint8_t>(value >> 8);
    return packet;
}

class PacketSink : public ::testing::Test
{
protected:
    void SetUp() override
    {
        board.attach("/dev/spidev1.0", sink);
        ASSERT_EQ(0, spi.open("/dev/spidev1.0", 0, 8, 50000000, 1));
    }
    void send(const Bytes& packet) { ASSERT_GT(spi.write(packet.data(), static_cast<uint32_t>(packet.size())), 0); }

    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<sim::SpiPacketSink> sink = std::make_shared<sim::SpiPacketSink>();
    HardwareInterface::Spi spi;
};

} // namespace

TEST_F(PacketSink, TakesAWholeBitstream)
{
    sink->startBitstream();
    send(page(0, 0, 0x11));
    send(page(1, 1, 0x22));
    send(page(2, 2, 0x33));
    EXPECT_TRUE(sink->errors().empty());
    EXPECT_EQ(sim::SpiPacketSink::Bitstream::Complete, sink->bitstreamState());
    EXPECT_EQ(3u * 256u, sink->bitstream().size());
}

TEST_F(PacketSink, FlagsABadCrcAGapAndPagesOutsideATransfer)
{
    send(page(0, 0, 0x11));
    EXPECT_EQ(1u, sink->errors().size()); // no bitstream was announced

    sink->clear();
    sink->startBitstream();
    send(page(0, 0, 0x11));
    send(page(2, 1, 0x22, 1));
    EXPECT_EQ(1u, sink->errors().size());
    EXPECT_EQ(sim::SpiPacketSink::Bitstream::Corrupt, sink->bitstreamState());

    sink->clear();
    sink->startBitstream();
    send(page(0, 0, 0x11));
    send(page(2, 2, 0x22));
    EXPECT_EQ(1u, sink->errors().size());
    EXPECT_EQ(sim::SpiPacketSink::Bitstream::Corrupt, sink->bitstreamState());
}

TEST_F(PacketSink, FlagsLinePacketsWithoutTheirEnd)
{
    send({0xFA, 0xAF, 1, 2, 3, 0, 0});
    send({0xF5, 0x5F, 4, 5, 6, 0, 1});
    ASSERT_EQ(1u, sink->errors().size());
    EXPECT_EQ((std::vector<Bytes>{{1, 2, 3, 4, 5, 6}}), sink->lines(2));
    sink->clear();
    send({0xF5, 0x5F, 4, 5, 6, 0, 0});
    EXPECT_EQ(1u, sink->errors().size()); // no first packet
}
