// The FPGA's SPI side: data and bitstream packets, line packets, the readback test.
#include "engine/devices/FPGAControl.h"

#include "base/files/DurableFile.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "base/threads/PThread.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

enum PacketType : uint8_t { DataBlock = 1, BitstreamPage = 2 };
enum Position : uint8_t { First = 0, Middle = 1, Last = 2 };

constexpr size_t kPageBytes = 256;
// Bitstreams of the FPGAs such a board could carry are a few MiB.
constexpr long kMaxBitstreamBytes = 64L << 20;
constexpr int kStartTimeoutMs = 5000;  // the FPGA readies itself for a bitstream
constexpr int kLoadTimeoutMs = 60000;  // it checks and loads the whole bitstream
constexpr int kSettleMs = 30000;       // it restarts on the new bitstream
constexpr int kStatusReady = 11;
constexpr int kStatusLoaded = 13;

const uint8_t kFirstMarker[2] = {0xFA, 0xAF};
const uint8_t kNextMarker[2] = {0xF5, 0x5F};

void putLe32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void fillHeader(uint8_t* header, PacketType type, Position position, uint32_t index, uint32_t length, uint32_t crc)
{
    memset(header, 0, FPGAControl::kPacketHeader);
    header[0] = type;
    header[1] = position;
    putLe32(header + 4, index);
    putLe32(header + 8, length);
    putLe32(header + 12, crc);
}

// Sleeps microseconds of machine time: the Clock seam says how long a machine
// second lasts, so the simulator's fast clock shortens these waits too.
void sleepMicroseconds(int64_t us)
{
    const int64_t from = timespecToNs(kernelMonotonicNow());
    const int64_t secondNs = timespecToNs(platform().clock().deadlineAfterMs(1000)) - from;
    sleepUntil(nsToTimespec(from + secondNs * us / 1000000));
}

bool linePacketFits(size_t segLen)
{
    return segLen > 0 && segLen <= FPGAControl::kMaxSpiMessage - 4;
}

} // namespace

int FPGAControl::sendData(const uint8_t* bytes, size_t size, size_t chunkSize)
{
    if (size == 0)
        return 0;
    if (chunkSize == 0 || chunkSize > kMaxSpiMessage - kPacketHeader) {
        logger()->write(LogError, "FPGAControl::sendData: chunk size %zu does not fit an SPI message of %zu bytes", chunkSize,
                        kMaxSpiMessage);
        return -EINVAL;
    }
    std::vector<uint8_t> packet(kPacketHeader + chunkSize);
    int rc = 0;
    uint32_t index = 0;
    for (size_t offset = 0; offset < size; offset += chunkSize, ++index) {
        const size_t length = std::min(chunkSize, size - offset);
        const Position position = offset == 0 ? First : size - offset > chunkSize ? Middle : Last;
        fillHeader(packet.data(), DataBlock, position, index, static_cast<uint32_t>(length), 0);
        memcpy(packet.data() + kPacketHeader, bytes + offset, length);
        rc = m_spi.write(packet.data(), static_cast<uint32_t>(kPacketHeader + length));
        if (rc < 0) {
            logger()->write(LogError, "FPGAControl::sendData: packet %u failed (%d)", index, rc);
            return rc;
        }
    }
    sleepMicroseconds(500);
    return rc;
}

int FPGAControl::sendLines(const uint8_t* bytes, size_t segLen, size_t lineLen, int lineCount, int mode)
{
    if (lineCount <= 0)
        return 0;
    if (!linePacketFits(segLen) || lineLen != 3 * segLen) {
        logger()->write(LogError, "FPGAControl::sendLines: a line of %zu bytes is no three segments of %zu", lineLen, segLen);
        return -EINVAL;
    }
    std::vector<uint8_t> packets[3];
    for (auto& packet : packets)
        packet.assign(segLen + 4, 0);
    const size_t half = lineLen / 2;
    int rc = 0;
    for (int line = 0; line < lineCount; ++line, bytes += lineLen) {
        if (mode == 1 || mode == 2) {
            for (size_t i = 0; i < lineLen; ++i) {
                const size_t source = mode == 1 ? i : (i % 2 == 0 ? i / 2 : half + i / 2);
                packets[i / segLen][2 + i % segLen] = bytes[source];
            }
        }
        for (int p = 0; p < 3; ++p) {
            memcpy(packets[p].data(), p == 0 && line == 0 ? kFirstMarker : kNextMarker, 2);
            rc = m_spi.write(packets[p].data(), static_cast<uint32_t>(packets[p].size()));
            if (rc < 0)
                return rc;
            sleepMicroseconds(1);
        }
    }
    return rc;
}

int FPGAControl::sendLinePairs(const uint8_t* bytes, size_t segLen, size_t stride, int count)
{
    if (count < 1)
        return 0;
    if (!linePacketFits(segLen) || stride < 3 * segLen) {
        logger()->write(LogError, "FPGAControl::sendLinePairs: stride %zu is shorter than three segments of %zu", stride,
                        segLen);
        return -EINVAL;
    }
    std::vector<uint8_t> first(segLen + 4, 0);
    std::vector<uint8_t> second(segLen + 4, 0);
    memcpy(second.data(), kNextMarker, 2);
    int rc = 0;
    for (int step = 0; step < count; ++step, bytes += stride) {
        memcpy(first.data(), step == 0 ? kFirstMarker : kNextMarker, 2);
        memcpy(first.data() + 2, bytes, segLen);
        memcpy(second.data() + 2, bytes + segLen, segLen);
        rc = m_spi.write(first.data(), static_cast<uint32_t>(first.size()));
        if (rc >= 0)
            rc = m_spi.write(second.data(), static_cast<uint32_t>(second.size()));
        if (rc < 0)
            return rc;
    }
    return rc;
}

int FPGAControl::waitTransferStatus(int wanted, int timeoutMs)
{
    const int64_t deadline = timespecToNs(platform().clock().now()) + int64_t(timeoutMs) * 1000000;
    int status = -1;
    do {
        sleepMicroseconds(100);
        if (readTransferStatus(&status) > 0 && status == wanted)
            return 0;
    } while (timespecToNs(platform().clock().now()) < deadline);
    logger()->write(LogError, "FPGAControl: transfer status %d not reached within %d ms (last %d)", wanted, timeoutMs, status);
    return -ETIMEDOUT;
}

int FPGAControl::loadBitstream(const std::string& path)
{
    startBitstream();
    if (const int rc = waitTransferStatus(kStatusReady, kStartTimeoutMs))
        return rc;

    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(rootPath(path).c_str(), "rbe"), fclose);
    if (!file) {
        puts("fopen failed");
        return -1;
    }
    long size = -1;
    if (fseek(file.get(), 0, SEEK_END) == 0)
        size = ftell(file.get());
    rewind(file.get());
    printf("file size:%ld\n", size);
    if (size <= 0 || size > kMaxBitstreamBytes) {
        logger()->write(LogError, "FPGAControl::loadBitstream: %s holds %ld bytes, no bitstream", path.c_str(), size);
        return -1;
    }
    const size_t pages = (static_cast<size_t>(size) + kPageBytes - 1) / kPageBytes;
    printf("mem size:%zu\n", pages * kPageBytes);
    std::vector<uint8_t> image(pages * kPageBytes, 0);
    const size_t got = fread(image.data(), 1, static_cast<size_t>(size), file.get());
    printf("read count: %zu\n", got);
    if (got != static_cast<size_t>(size))
        return -3;

    std::vector<uint8_t> packet(kPacketHeader + kPageBytes);
    for (size_t k = 0; k < pages; ++k) {
        const uint8_t* page = image.data() + k * kPageBytes;
        const Position position = k == 0 ? First : k + 1 == pages ? Last : Middle;
        fillHeader(packet.data(), BitstreamPage, position, static_cast<uint32_t>(k), kPageBytes,
                   crc16(page, kPageBytes));
        memcpy(packet.data() + kPacketHeader, page, kPageBytes);
        const int rc = m_spi.write(packet.data(), static_cast<uint32_t>(packet.size()));
        if (rc < 0) {
            logger()->write(LogError, "FPGAControl::loadBitstream: page %zu of %zu failed (%d)", k, pages, rc);
            return rc;
        }
    }
    if (const int rc = waitTransferStatus(kStatusLoaded, kLoadTimeoutMs))
        return rc;
    PThread::msleep(kSettleMs);
    return 0;
}

int FPGAControl::spiReadbackTest()
{
    uint8_t tx[257];
    uint8_t rx[257] = {};
    for (int i = 0; i < 256; ++i)
        tx[i] = static_cast<uint8_t>(i);
    tx[256] = 0;
    const int rc = m_spi.transfer(tx, rx, sizeof tx);
    puts("***SPI READBACK TEST***");
    for (int i = 0; i < 256; ++i) {
        if (i % 16 == 0)
            puts("");
        printf("%.2X ", rx[i]);
    }
    printf("%.2X\n", rx[256]);
    puts("***SPI READBACK TEST***");
    if (rc < 0)
        return rc;
    return memcmp(tx, rx + 1, 255);
}

int FPGAControl::writeFile(const uint8_t* bytes, size_t count, const std::string& path)
{
    printf("filename: %s\n", path.c_str());
    // Descriptor 0 is a file like any other when standard input is closed.
    const int fd = ::open(rootPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    if (fd < 0) {
        logger()->write(LogError, "FPGAControl::writeFile: open %s: %s", path.c_str(), strerror(errno));
        return fd;
    }
    // All of it, or a failure: a file cut short must not pass for written.
    const int written = durable::writeAll(fd, bytes, count);
    printf("data size(%zu)  written(%zd)\n", count, written == 0 ? static_cast<ssize_t>(count) : -1);
    if (written != 0)
        logger()->write(LogError, "FPGAControl::writeFile: write %s: %s", path.c_str(), strerror(-written));
    const int closed = ::close(fd);
    if (closed != 0)
        logger()->write(LogError, "FPGAControl::writeFile: close %s: %s", path.c_str(), strerror(errno));
    return written != 0 ? -1 : closed;
}
