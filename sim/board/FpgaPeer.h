#pragma once

#include "board/PtyResponder.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class SpiPacketSink;

// The FPGA's UART side: it takes 8-byte command frames and answers each with
// an 8-byte frame. By default a frame is echoed; the version command (0x01)
// answers its version in bytes 5-7, and, with a packet sink beside it, the
// bitstream start (0x27 without arguments) readies the sink and the status
// read (0x26 without arguments) reports 11 while a bitstream comes in, 13 once
// it arrived whole. Replies can be scripted per command, cut short, left out,
// or held back so that a command stays in flight.
class FpgaPeer : public PtyResponder
{
public:
    using Frame = std::array<uint8_t, 8>;

    explicit FpgaPeer(std::shared_ptr<SpiPacketSink> sink = nullptr);
    ~FpgaPeer() override;

    void setVersion(char letter, uint8_t major, uint8_t minor);
    // Answers `code` with this frame from now on.
    void setReply(uint8_t code, const Frame& reply);
    // The next `times` replies to `code` (-1: every one) carry only their
    // first `length` bytes; 0 leaves them out.
    void cutReplies(uint8_t code, size_t length, int times = -1);
    // While held, the peer takes a frame and answers nothing until released.
    void holdReplies(bool hold);

    std::vector<Frame> frames() const;

protected:
    void received(const char* bytes, size_t count) override;

private:
    struct Cut
    {
        size_t length;
        int times;
    };

    Frame replyTo(const Frame& frame);

    const std::shared_ptr<SpiPacketSink> m_sink;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_hold = false;
    Frame m_version{};
    std::map<uint8_t, Frame> m_replies;
    std::map<uint8_t, Cut> m_cuts;
    std::vector<Frame> m_frames;
    std::string m_pending;
};

} // namespace sim
