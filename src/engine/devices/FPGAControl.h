#pragma once

#include "base/buses/Spi.h"
#include "base/buses/Uart.h"
#include "base/threads/Mutex.h"
#include "base/threads/noncopyable.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

// Where the FPGA's three links live. This system fits no FPGA, so the
// default paths are empty and every open fails; a board that fits one names them.
struct FpgaPaths
{
    std::string uart;
    std::string spi;
    std::string jtag;
};

// The link to an FPGA between the board and the panel: 8-byte command frames
// over a UART, image and bitstream packets over SPI, and the JTAG driver and
// programming tool to identify, check and reprogram the chip.
//
// Command operations answer 8 when the whole 8-byte reply came and -1
// otherwise; out-arguments are filled from the reply in both cases, bytes
// that did not arrive reading as 0. The meaning of most commands is the
// FPGA's; they are named by their command code.
class FPGAControl : noncopyable
{
public:
    FPGAControl();
    explicit FPGAControl(const FpgaPaths& paths);
    ~FPGAControl();

    // 0 both links open; 1 the UART failed; 2 the SPI node failed.
    int connect();
    // Releases the link lock when the calling thread holds it; never one
    // another thread holds. 0.
    int releaseLock();

    // ---- Command frames -------------------------------------------------
    // "%c%d.%d" from reply bytes 5, 6, 7. 8; -1 when the UART cannot be
    // opened ("V0.0") or the reply stays short; -10 when the JTAG check
    // after a short reply fails.
    int getVersion(std::string& text);
    int cmd02();
    int cmd03();
    int cmd04(uint8_t value);
    int cmd05(uint16_t first, uint16_t second);
    int cmd06(uint16_t* value);
    int cmd07(bool on);
    // Command 0x08: true when the status byte reads on (0x27), resp. off (0x17).
    bool isStatusOn();
    bool isStatusOff();
    int cmd09(uint32_t* value, bool* flag3, bool* flag2);
    int cmd0A(uint8_t value);
    int cmd12();
    int cmd13(uint8_t value);
    int cmd17(uint32_t* value);
    int cmd18(uint32_t value);
    int cmd20(uint32_t value);
    int cmd21(uint8_t index, uint32_t value);
    int cmd22(uint8_t index, uint32_t value);
    int cmd23(uint8_t index, uint32_t value);
    int cmd24(uint32_t value);
    int cmd25(uint8_t index, bool flag, uint32_t value);
    // Command 0x26 without arguments: the bitstream transfer status.
    int readTransferStatus(int* status);
    int cmd26(uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7);
    // Command 0x27 without arguments: a bitstream transfer begins.
    int startBitstream();
    int cmd27(uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7);
    int cmd28(uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7);
    int cmd29(bool b4, bool b5, bool b6, bool b7);
    // `state`: 1 on, 0 off, -1 anything else.
    int cmd2A(int* state);
    int cmd2B(uint8_t first, uint8_t second, uint32_t value);
    // Sends `count` bytes as they are (byte 1 counts as the command) and
    // prints the bytes that came back; 0, or -EINVAL for a count outside 2 to 256.
    int transact(const uint8_t* bytes, int count);

    // ---- JTAG -----------------------------------------------------------
    // 0 when the id is accepted and the status is good (reprogramming up to
    // three times); -1 node or id unreadable; -2 unknown id; -3 status
    // unreadable; -4 status still bad after the reprogramming; -11 reprogram refused.
    int checkJtag();
    // Programs a bitstream file with the programming tool (both board
    // paths). 0; -1 unknown chip; -2 status still bad after three attempts.
    int upgradeFirmware(const std::string& tool, const std::string& file);
    // Runs the tool with the argument text split at blanks, no shell in
    // between; the raw wait status.
    int runTool(const std::string& tool, const std::string& argument);

    // ---- SPI ------------------------------------------------------------
    // Largest message the SPI driver takes in one transfer.
    static constexpr size_t kMaxSpiMessage = 4096;
    static constexpr size_t kPacketHeader = 16;

    // Data packets of at most chunkSize bytes. The last SPI write's result,
    // 0 for no data, -EINVAL for a chunk size of 0 or one beyond one SPI
    // message, or the first failed write's negative errno.
    int sendData(const uint8_t* bytes, size_t size, size_t chunkSize);
    // Each line of lineLen = 3 x segLen bytes as three line packets; mode 1
    // in order, mode 2 its two halves interleaved, other modes leave the
    // payload as it was. -EINVAL for other proportions.
    int sendLines(const uint8_t* bytes, size_t segLen, size_t lineLen, int lineCount, int mode);
    // The first 2 x segLen bytes of each stride (stride >= 3 x segLen) as two packets.
    int sendLinePairs(const uint8_t* bytes, size_t segLen, size_t stride, int count);
    // Sends a bitstream file (board path) in 256-byte pages and waits for
    // the FPGA to take it. 0; -1 file unreadable, empty or too large; -3
    // short read; -ETIMEDOUT when the FPGA does not reach a transfer status
    // in time; a failed SPI write's negative errno.
    int loadBitstream(const std::string& path);
    // 0 when the FPGA echoed every byte one position later.
    int spiReadbackTest();

    // Writes bytes to a file (board path): the close result (0), or -1 when
    // the file could not be opened, written whole or closed (logged).
    static int writeFile(const uint8_t* bytes, size_t count, const std::string& path);

    // CRC-16/XMODEM.
    static uint16_t crc16(const uint8_t* bytes, size_t count);
    // The reflected CRC-32 of polynomial 0xEDB88320 from `initial`, XORed with `xorOut`.
    static uint32_t crc32(const uint8_t* bytes, size_t count, uint32_t initial, uint32_t xorOut);

private:
    // One frame out and up to `count` bytes back into `reply` (zeroed
    // first, so missing bytes read 0); the bytes received.
    int exchange(const uint8_t* frame, uint8_t* reply, int count);
    // A command frame: header, code, two small arguments, a big-endian value.
    int command(uint8_t code, uint8_t arg2 = 0, uint8_t arg3 = 0, uint32_t value = 0, uint8_t* reply = nullptr);
    bool statusQuery(bool on);
    bool openUart();
    // Polls the transfer status until it reads `wanted` or `timeoutMs` of machine time pass.
    int waitTransferStatus(int wanted, int timeoutMs);
    void lock();
    void unlock();

    FpgaPaths m_paths;
    HardwareInterface::Uart m_uart;
    HardwareInterface::Spi m_spi;
    Mutex m_mutex;
    // The thread holding m_mutex; no thread while it is free.
    std::atomic<std::thread::id> m_owner{};
};
