#include "engine/devices/FPGAControl.h"

#include "base/log/LogWriter.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kFrameHeader = 0x5A;
constexpr int kFrameBytes = 8;
constexpr uint8_t kWireTrue = 0x27;
constexpr uint8_t kWireFalse = 0x17;
constexpr int kUartTimeoutMs = 1000;

// The last status bytes seen by the on and off queries.
std::atomic<uint8_t> g_statusStore[2];

uint8_t wireBool(bool value)
{
    return value ? kWireTrue : kWireFalse;
}

uint32_t fourBytes(uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7)
{
    return static_cast<uint32_t>(b4) << 24 | static_cast<uint32_t>(b5) << 16 | static_cast<uint32_t>(b6) << 8 | b7;
}

uint32_t bigEndian32(const uint8_t* p)
{
    return fourBytes(p[0], p[1], p[2], p[3]);
}

std::string versionText(const uint8_t* reply)
{
    char text[32];
    snprintf(text, sizeof text, "%c%d.%d", static_cast<char>(reply[5]), reply[6], reply[7]);
    return text;
}

} // namespace

FPGAControl::FPGAControl() : FPGAControl(FpgaPaths{}) {}

FPGAControl::FPGAControl(const FpgaPaths& paths) : m_paths(paths)
{
    logger()->write(LogInfo, "Enter %s", "FPGAControl");
}

FPGAControl::~FPGAControl()
{
    m_spi.close();
    m_uart.close();
    logger()->write(LogInfo, "Leave %s", "~FPGAControl");
}

bool FPGAControl::openUart()
{
    if (m_uart.isOpen())
        return true;
    if (m_uart.open(m_paths.uart.c_str(), 115200, 'N', 8, 1) != 0) {
        logger()->write(LogError, "Connect Uart(%s) failed", m_paths.uart.c_str());
        return false;
    }
    logger()->write(LogInfo, "Connect Uart Success");
    m_uart.setTimeout(kUartTimeoutMs);
    return true;
}

int FPGAControl::connect()
{
    if (!openUart())
        return 1;
    if (m_spi.open(m_paths.spi.c_str(), 0, 8, 50000000, 1) != 0) {
        logger()->write(LogError, "Connect SPI(%s) failed", m_paths.spi.c_str());
        return 2;
    }
    logger()->write(LogInfo, "Connect SPI Success");
    return 0;
}

void FPGAControl::lock()
{
    m_mutex.lock();
    m_owner.store(std::this_thread::get_id());
}

void FPGAControl::unlock()
{
    m_owner.store(std::thread::id());
    m_mutex.unlock();
}

int FPGAControl::releaseLock()
{
    // Unlocking a mutex another thread holds would let a second exchange
    // interleave its bytes with the one in flight.
    if (m_owner.load() == std::this_thread::get_id())
        unlock();
    return 0;
}

int FPGAControl::exchange(const uint8_t* frame, uint8_t* reply, int count)
{
    memset(reply, 0, static_cast<size_t>(count));
    lock();
    m_uart.flushInput();
    int got = m_uart.write(frame, count) == 0 ? m_uart.read(reply, count) : 0;
    unlock();
    if (got < 0)
        got = 0;
    if (got < count)
        logger()->write(LogError, "Uart read error, count(%d), CMD(0x%02X)", got, frame[1]);
    return got;
}

int FPGAControl::command(uint8_t code, uint8_t arg2, uint8_t arg3, uint32_t value, uint8_t* reply)
{
    const uint8_t frame[kFrameBytes] = {kFrameHeader,
                                        code,
                                        arg2,
                                        arg3,
                                        static_cast<uint8_t>(value >> 24),
                                        static_cast<uint8_t>(value >> 16),
                                        static_cast<uint8_t>(value >> 8),
                                        static_cast<uint8_t>(value)};
    uint8_t ignored[kFrameBytes];
    return exchange(frame, reply ? reply : ignored, kFrameBytes) == kFrameBytes ? kFrameBytes : -1;
}

int FPGAControl::getVersion(std::string& text)
{
    if (!openUart()) {
        text = "V0.0";
        return -1;
    }
    uint8_t reply[kFrameBytes];
    if (command(0x01, 0, 0, 0, reply) != kFrameBytes) {
        releaseLock();
        if (checkJtag() != 0)
            return -10;
        if (command(0x01, 0, 0, 0, reply) != kFrameBytes)
            return -1;
    } else {
        printf("\n***** FPGA Version: ");
        for (uint8_t byte : reply)
            printf("0x%02X ", byte);
        puts("******FPGA Version***");
    }
    text = versionText(reply);
    printf("Version:\t%s\n", text.c_str());
    return kFrameBytes;
}

int FPGAControl::cmd02()
{
    return command(0x02);
}

int FPGAControl::cmd03()
{
    return command(0x03);
}

int FPGAControl::cmd04(uint8_t value)
{
    return command(0x04, 0, 0, value);
}

int FPGAControl::cmd05(uint16_t first, uint16_t second)
{
    return command(0x05, 0, 0, static_cast<uint32_t>(first) << 16 | second);
}

int FPGAControl::cmd06(uint16_t* value)
{
    uint8_t reply[kFrameBytes];
    const int rc = command(0x06, 0, 0, 0, reply);
    *value = static_cast<uint16_t>(reply[6] << 8 | reply[7]);
    return rc;
}

int FPGAControl::cmd07(bool on)
{
    return command(0x07, 0, 0, wireBool(on));
}

bool FPGAControl::statusQuery(bool on)
{
    uint8_t reply[kFrameBytes];
    const int rc = command(0x08, 0, 0, 0, reply);
    g_statusStore[on ? 0 : 1].store(reply[7]);
    if (rc != kFrameBytes)
        return false;
    return reply[7] == (on ? kWireTrue : kWireFalse);
}

bool FPGAControl::isStatusOn()
{
    return statusQuery(true);
}

bool FPGAControl::isStatusOff()
{
    return statusQuery(false);
}

int FPGAControl::cmd09(uint32_t* value, bool* flag3, bool* flag2)
{
    uint8_t reply[kFrameBytes];
    const int rc = command(0x09, 0, 0, 0, reply);
    *value = bigEndian32(reply + 4);
    *flag3 = reply[3] != 0;
    *flag2 = reply[2] != 0;
    return rc;
}

int FPGAControl::cmd0A(uint8_t value)
{
    return command(0x0A, 0, 0, value);
}

int FPGAControl::cmd12()
{
    return command(0x12);
}

int FPGAControl::cmd13(uint8_t value)
{
    return command(0x13, 0, 0, value);
}

int FPGAControl::cmd17(uint32_t* value)
{
    uint8_t reply[kFrameBytes];
    const int rc = command(0x17, 0, 0, 0, reply);
    *value = bigEndian32(reply + 4);
    return rc;
}

int FPGAControl::cmd18(uint32_t value)
{
    return command(0x18, 0, 0, value);
}

int FPGAControl::cmd20(uint32_t value)
{
    return command(0x20, 0, 0, value);
}

int FPGAControl::cmd21(uint8_t index, uint32_t value)
{
    return command(0x21, index, 0, value);
}

int FPGAControl::cmd22(uint8_t index, uint32_t value)
{
    return command(0x22, index, 0, value);
}

int FPGAControl::cmd23(uint8_t index, uint32_t value)
{
    return command(0x23, index, 0, value);
}

int FPGAControl::cmd24(uint32_t value)
{
    return command(0x24, 0, 0, value);
}

int FPGAControl::cmd25(uint8_t index, bool flag, uint32_t value)
{
    return command(0x25, index, flag ? 1 : 0, value);
}

int FPGAControl::readTransferStatus(int* status)
{
    uint8_t reply[kFrameBytes];
    const int rc = command(0x26, 0, 0, 0, reply);
    *status = reply[7];
    return rc;
}

int FPGAControl::cmd26(uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7)
{
    return command(0x26, 0, 0, fourBytes(b4, b5, b6, b7));
}

int FPGAControl::startBitstream()
{
    return command(0x27);
}

int FPGAControl::cmd27(uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7)
{
    return command(0x27, 0, 0, fourBytes(b4, b5, b6, b7));
}

int FPGAControl::cmd28(uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7)
{
    return command(0x28, 0, 0, fourBytes(b4, b5, b6, b7));
}

int FPGAControl::cmd29(bool b4, bool b5, bool b6, bool b7)
{
    return command(0x29, 0, 0, fourBytes(wireBool(b4), wireBool(b5), wireBool(b6), wireBool(b7)));
}

int FPGAControl::cmd2A(int* state)
{
    uint8_t reply[kFrameBytes];
    const int rc = command(0x2A, 0, 0, 0, reply);
    *state = reply[7] == kWireTrue ? 1 : reply[7] == kWireFalse ? 0 : -1;
    return rc;
}

int FPGAControl::cmd2B(uint8_t first, uint8_t second, uint32_t value)
{
    return command(0x2B, first, second, value);
}

int FPGAControl::transact(const uint8_t* bytes, int count)
{
    // The reply lands in a buffer of the frame's size: a caller's count must stay sane.
    if (!bytes || count < 2 || count > 256) {
        logger()->write(LogError, "FPGAControl::transact: refusing a frame of %d bytes", count);
        return -EINVAL;
    }
    uint8_t reply[256];
    const int got = exchange(bytes, reply, count);
    puts("***read UART: \t");
    for (int i = 0; i < got; ++i)
        printf("0x%02X ", reply[i]);
    printf("\n");
    return 0;
}
