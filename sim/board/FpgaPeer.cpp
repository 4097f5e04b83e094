#include "board/FpgaPeer.h"

#include "board/SpiPacketSink.h"

#include <algorithm>
#include <chrono>

namespace sim {

namespace {

constexpr uint8_t kVersion = 0x01;
constexpr uint8_t kTransferStatus = 0x26;
constexpr uint8_t kBitstreamStart = 0x27;
constexpr uint8_t kReady = 11;
constexpr uint8_t kLoaded = 13;

bool withoutArguments(const FpgaPeer::Frame& frame)
{
    return std::all_of(frame.begin() + 2, frame.end(), [](uint8_t b) { return b == 0; });
}

} // namespace

FpgaPeer::FpgaPeer(std::shared_ptr<SpiPacketSink> sink) : m_sink(std::move(sink))
{
    setVersion('V', 1, 0);
    start();
}

FpgaPeer::~FpgaPeer()
{
    holdReplies(false);
    stop();
}

void FpgaPeer::setVersion(char letter, uint8_t major, uint8_t minor)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_version = Frame{0x5A, kVersion, 0, 0, 0, static_cast<uint8_t>(letter), major, minor};
}

void FpgaPeer::setReply(uint8_t code, const Frame& reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies[code] = reply;
}

void FpgaPeer::cutReplies(uint8_t code, size_t length, int times)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cuts[code] = Cut{std::min<size_t>(length, 8), times};
}

void FpgaPeer::holdReplies(bool hold)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold = hold;
    }
    m_released.notify_all();
}

std::vector<FpgaPeer::Frame> FpgaPeer::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

FpgaPeer::Frame FpgaPeer::replyTo(const Frame& frame)
{
    const uint8_t code = frame[1];
    const bool bare = withoutArguments(frame);
    if (m_sink && bare && code == kBitstreamStart)
        m_sink->startBitstream();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto scripted = m_replies.find(code);
        if (scripted != m_replies.end())
            return scripted->second;
        if (code == kVersion)
            return m_version;
    }
    if (m_sink && bare && code == kTransferStatus) {
        const SpiPacketSink::Bitstream state = m_sink->bitstreamState();
        const uint8_t status = state == SpiPacketSink::Bitstream::Complete    ? kLoaded
                               : state == SpiPacketSink::Bitstream::Receiving ? kReady
                                                                              : 0;
        return Frame{0x5A, kTransferStatus, 0, 0, 0, 0, 0, status};
    }
    return frame;
}

void FpgaPeer::received(const char* bytes, size_t count)
{
    m_pending.append(bytes, count);
    while (m_pending.size() >= 8) {
        Frame frame;
        std::copy(m_pending.begin(), m_pending.begin() + 8, frame.begin());
        m_pending.erase(0, 8);
        size_t length = 8;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_frames.push_back(frame);
            auto cut = m_cuts.find(frame[1]);
            if (cut != m_cuts.end() && cut->second.times != 0) {
                length = cut->second.length;
                if (cut->second.times > 0)
                    --cut->second.times;
            }
            while (m_hold && !stopping())
                m_released.wait_for(lock, std::chrono::milliseconds(20));
        }
        const Frame reply = replyTo(frame);
        if (length > 0)
            send(std::string(reply.begin(), reply.begin() + length));
    }
}

} // namespace sim
