#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "board/FpgaPeer.h"
#include "board/FpgaToolStub.h"
#include "board/JtagModel.h"
#include "board/ScaledClock.h"
#include "board/SimBoard.h"
#include "board/SpiPacketSink.h"
#include "engine/devices/FPGAControl.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Frame = sim::FpgaPeer::Frame;
using Bytes = std::vector<uint8_t>;
using Bitstream = sim::SpiPacketSink::Bitstream;

constexpr char kSpiPath[] = "/dev/spidev1.0";
constexpr char kJtagPath[] = "/dev/jtag";

const uint8_t kCheckInput[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

Bytes counting(size_t count, int from = 0)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(from + i);
    return bytes;
}

std::string logText()
{
    return testsupport::readFile(rootPath("/data/var/TalvikS.log"));
}

// The FPGA's three links on the simulated board: a peer on a pty for the
// UART, the packet sink on an spidev node, the JTAG node. The machine clock
// runs `speed` times real time.
class FpgaBoard
{
public:
    explicit FpgaBoard(double speed) : clock(speed)
    {
        board.attach(kSpiPath, sink);
        board.attach(kJtagPath, jtag);
    }

    sim::ScaledClock clock;
    ScopedPlatform installedClock{&clock};
    sim::SimBoard board;
    ScopedPlatform installed{&board};
    std::shared_ptr<sim::SpiPacketSink> sink = std::make_shared<sim::SpiPacketSink>();
    std::shared_ptr<sim::JtagModel> jtag = std::make_shared<sim::JtagModel>();
    sim::FpgaPeer peer{sink};
    FPGAControl fpga{FpgaPaths{peer.path(), kSpiPath, kJtagPath}};
};

// The FPGA's links at twice real time. However busy the host, a reply has its
// whole time-out in real time to come.
class FpgaLink : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::makeDirs(rootPath("/data/var"));
        LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 20, 2, false);
        ASSERT_EQ(0, fpga.connect());
    }

    FpgaBoard link{2};
    sim::FpgaPeer& peer = link.peer;
    sim::SpiPacketSink& sink = *link.sink;
    sim::JtagModel& jtag = *link.jtag;
    sim::SimBoard& board = link.board;
    FPGAControl& fpga = link.fpga;
};

} // namespace

TEST_F(FpgaLink, CommandFrames)
{
    EXPECT_EQ(8, fpga.cmd02());
    EXPECT_EQ(8, fpga.cmd04(0xAB));
    EXPECT_EQ(8, fpga.cmd05(0x1234, 0xABCD));
    EXPECT_EQ(8, fpga.cmd07(true));
    EXPECT_EQ(8, fpga.cmd07(false));
    EXPECT_EQ(8, fpga.cmd21(3, 0x01020304));
    EXPECT_EQ(8, fpga.cmd25(2, true, 0xDEADBEEF));
    EXPECT_EQ(8, fpga.cmd26(1, 2, 3, 4));
    EXPECT_EQ(8, fpga.cmd29(true, false, true, false));
    EXPECT_EQ(8, fpga.cmd2B(7, 9, 0x11223344));
    EXPECT_EQ(8, fpga.startBitstream());
    const std::vector<Frame> expected = {
        {0x5A, 0x02, 0, 0, 0, 0, 0, 0},
        {0x5A, 0x04, 0, 0, 0, 0, 0, 0xAB},
        {0x5A, 0x05, 0, 0, 0x12, 0x34, 0xAB, 0xCD},
        {0x5A, 0x07, 0, 0, 0, 0, 0, 0x27},
        {0x5A, 0x07, 0, 0, 0, 0, 0, 0x17},
        {0x5A, 0x21, 3, 0, 0x01, 0x02, 0x03, 0x04},
        {0x5A, 0x25, 2, 1, 0xDE, 0xAD, 0xBE, 0xEF},
        {0x5A, 0x26, 0, 0, 1, 2, 3, 4},
        {0x5A, 0x29, 0, 0, 0x27, 0x17, 0x27, 0x17},
        {0x5A, 0x2B, 7, 9, 0x11, 0x22, 0x33, 0x44},
        {0x5A, 0x27, 0, 0, 0, 0, 0, 0},
    };
    EXPECT_EQ(expected, peer.frames());
}

TEST_F(FpgaLink, RepliesFillTheOutArguments)
{
    peer.setReply(0x06, {0x5A, 0x06, 0, 0, 0, 0, 0x12, 0x34});
    peer.setReply(0x09, {0x5A, 0x09, 1, 0, 0xCA, 0xFE, 0xBA, 0xBE});
    peer.setReply(0x17, {0x5A, 0x17, 0, 0, 0x01, 0x02, 0x03, 0x04});
    uint16_t u16 = 0;
    EXPECT_EQ(8, fpga.cmd06(&u16));
    EXPECT_EQ(0x1234, u16);
    uint32_t u32 = 0;
    bool flag3 = true, flag2 = false;
    EXPECT_EQ(8, fpga.cmd09(&u32, &flag3, &flag2));
    EXPECT_EQ(0xCAFEBABEu, u32);
    EXPECT_FALSE(flag3);
    EXPECT_TRUE(flag2);
    EXPECT_EQ(8, fpga.cmd17(&u32));
    EXPECT_EQ(0x01020304u, u32);

    int state = 9;
    for (const auto& [wire, expected] : std::vector<std::pair<uint8_t, int>>{{0x27, 1}, {0x17, 0}, {0x55, -1}}) {
        peer.setReply(0x2A, {0x5A, 0x2A, 0, 0, 0, 0, 0, wire});
        EXPECT_EQ(8, fpga.cmd2A(&state));
        EXPECT_EQ(expected, state);
    }
    peer.setReply(0x08, {0x5A, 0x08, 0, 0, 0, 0, 0, 0x27});
    EXPECT_TRUE(fpga.isStatusOn());
    EXPECT_FALSE(fpga.isStatusOff());
    peer.setReply(0x08, {0x5A, 0x08, 0, 0, 0, 0, 0, 0x17});
    EXPECT_FALSE(fpga.isStatusOn());
    EXPECT_TRUE(fpga.isStatusOff());
    peer.cutReplies(0x08, 0);
    EXPECT_FALSE(fpga.isStatusOff());
}

TEST_F(FpgaLink, ShortAndSilentRepliesAreNeverReadPastTheirEnd)
{
    peer.setReply(0x17, {0x5A, 0x17, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD});
    uint32_t value = 0;
    ASSERT_EQ(8, fpga.cmd17(&value));
    ASSERT_EQ(0xAABBCCDDu, value);

    // Seven bytes: the missing last byte reads 0, not what an earlier reply left.
    peer.setReply(0x17, {0x5A, 0x17, 0, 0, 0x01, 0x02, 0x03, 0x04});
    peer.cutReplies(0x17, 7, 1);
    EXPECT_EQ(-1, fpga.cmd17(&value));
    EXPECT_EQ(0x01020300u, value);
    EXPECT_NE(std::string::npos, logText().find("Uart read error, count(7), CMD(0x17)"));

    // No reply at all: the read gives up after the UART time-out.
    peer.cutReplies(0x17, 0, 1);
    const long long start = testsupport::monotonicMs();
    EXPECT_EQ(-1, fpga.cmd17(&value));
    EXPECT_LT(testsupport::monotonicMs() - start, 10000);
    EXPECT_EQ(0u, value);
    EXPECT_NE(std::string::npos, logText().find("Uart read error, count(0), CMD(0x17)"));

    // A late part of that exchange does not spill into the next one.
    EXPECT_EQ(8, fpga.cmd17(&value));
    EXPECT_EQ(0x01020304u, value);

    // A raw exchange prints only what came back, and refuses sizes it cannot hold.
    const uint8_t raw[4] = {0x5A, 0x33, 1, 2};
    EXPECT_EQ(0, fpga.transact(raw, 4));
    EXPECT_EQ(-EINVAL, fpga.transact(raw, 257));
    EXPECT_EQ(-EINVAL, fpga.transact(raw, 0));
}

TEST_F(FpgaLink, Version)
{
    peer.setVersion('V', 2, 10);
    std::string text;
    EXPECT_EQ(8, fpga.getVersion(text));
    EXPECT_EQ("V2.10", text);

    // A short reply: the JTAG check finds the chip sound and the query is asked again.
    peer.setVersion('V', 3, 1);
    peer.cutReplies(0x01, 3, 1);
    EXPECT_EQ(8, fpga.getVersion(text));
    EXPECT_EQ("V3.1", text);
    EXPECT_GT(jtag.statusReads(), 0);

    // The chip on the chain is not ours.
    jtag.setId(0x12345678);
    peer.cutReplies(0x01, 0, 1);
    EXPECT_EQ(-10, fpga.getVersion(text));

    FPGAControl unfitted;
    EXPECT_EQ(-1, unfitted.getVersion(text));
    EXPECT_EQ("V0.0", text);
    EXPECT_EQ(1, unfitted.connect());
}

TEST(FpgaLock, OnlyTheHolderReleasesTheLink)
{
    // A slow machine clock: the command in flight keeps waiting for seconds of real time.
    FpgaBoard link(0.2);
    ASSERT_EQ(0, link.fpga.connect());
    link.peer.holdReplies(true);
    std::thread first([&] { EXPECT_EQ(8, link.fpga.cmd02()); });
    ASSERT_TRUE(testsupport::eventually([&] { return link.peer.frames().size() == 1; }, 5000));

    // Another thread's release must not let a second exchange in.
    EXPECT_EQ(0, link.fpga.releaseLock());
    std::thread second([&] { EXPECT_EQ(8, link.fpga.cmd03()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(link.peer.inputPending());
    EXPECT_EQ(1u, link.peer.frames().size());

    link.peer.holdReplies(false);
    first.join();
    second.join();
    ASSERT_EQ(2u, link.peer.frames().size());
    EXPECT_EQ(0x03, link.peer.frames()[1][1]);
}

TEST(FpgaCrc, CheckValues)
{
    EXPECT_EQ(0x31C3, FPGAControl::crc16(kCheckInput, sizeof kCheckInput));
    EXPECT_EQ(0xCBF43926u, FPGAControl::crc32(kCheckInput, sizeof kCheckInput, 0xFFFFFFFF, 0xFFFFFFFF));
    EXPECT_EQ(0x2DFD2D88u, FPGAControl::crc32(kCheckInput, sizeof kCheckInput, 0, 0));
    EXPECT_EQ(0xE7FD94D5u, FPGAControl::crc32(kCheckInput, sizeof kCheckInput, 0x12345678, 0));
    EXPECT_EQ(0x12345678u ^ 0xFFu, FPGAControl::crc32(nullptr, 0, 0x12345678, 0xFF));
    // The bitstream pages: one counting up, one blank.
    EXPECT_EQ(0x7E55, FPGAControl::crc16(counting(256).data(), 256));
    EXPECT_EQ(0, FPGAControl::crc16(Bytes(256, 0).data(), 256));
}

TEST(FpgaCrc, SameResultsWhileLinksAreMadeOnOtherThreads)
{
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                FPGAControl link;
                if (FPGAControl::crc32(kCheckInput, sizeof kCheckInput, 0xFFFFFFFF, 0xFFFFFFFF) != 0xCBF43926u ||
                    FPGAControl::crc16(kCheckInput, sizeof kCheckInput) != 0x31C3)
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}

TEST_F(FpgaLink, DataPackets)
{
    // An exact multiple of the chunk size: the last chunk is marked last.
    const Bytes even = counting(12, 7);
    EXPECT_EQ(16 + 4, fpga.sendData(even.data(), even.size(), 4));
    auto evenHeaders = sink.headers();
    ASSERT_EQ(3u, evenHeaders.size());
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 2}),
              (std::vector<uint32_t>{evenHeaders[0].position, evenHeaders[1].position, evenHeaders[2].position}));
    EXPECT_EQ(even, sink.dataBlock());
    const Bytes two = counting(8, 1);
    EXPECT_EQ(16 + 4, fpga.sendData(two.data(), two.size(), 4));
    evenHeaders = sink.headers();
    ASSERT_EQ(5u, evenHeaders.size());
    EXPECT_EQ(0u, evenHeaders[3].position);
    EXPECT_EQ(2u, evenHeaders[4].position);
    EXPECT_EQ(two, sink.dataBlock());
    sink.clear();

    const Bytes data = counting(10, 100);
    EXPECT_EQ(16 + 2, fpga.sendData(data.data(), data.size(), 4));
    const auto headers = sink.headers();
    ASSERT_EQ(3u, headers.size());
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(1, headers[i].type);
        EXPECT_EQ(i, headers[i].position);
        EXPECT_EQ(i, headers[i].index);
        EXPECT_EQ(0u, headers[i].crc);
    }
    EXPECT_EQ((std::vector<uint32_t>{4, 4, 2}),
              (std::vector<uint32_t>{headers[0].length, headers[1].length, headers[2].length}));
    EXPECT_EQ(data, sink.dataBlock());

    // One chunk travels as a first packet alone; the largest chunk fills one SPI message.
    const Bytes big = counting(FPGAControl::kMaxSpiMessage - 16);
    EXPECT_EQ(static_cast<int>(FPGAControl::kMaxSpiMessage), fpga.sendData(big.data(), big.size(), big.size()));
    EXPECT_EQ(0, sink.headers().back().position);
    EXPECT_EQ(big, sink.dataBlock());
    EXPECT_EQ(0, fpga.sendData(data.data(), 0, 4));
    EXPECT_TRUE(sink.errors().empty());

    // A chunk of 0 would never end; one past a message the driver refuses.
    const size_t packets = sink.headers().size();
    EXPECT_EQ(-EINVAL, fpga.sendData(data.data(), data.size(), 0));
    EXPECT_EQ(-EINVAL, fpga.sendData(big.data(), big.size(), big.size() + 1));
    EXPECT_EQ(packets, sink.headers().size());

    // A failed write is reported, not covered by later ones.
    board.faults().failNext(kSpiPath, sim::IoOp::Ioctl, 1, EIO);
    EXPECT_EQ(-EIO, fpga.sendData(data.data(), data.size(), 4));
    EXPECT_EQ(packets, sink.headers().size());
}

TEST(FpgaFile, WritesAllOrSaysItFailed)
{
    testsupport::makeDirs(rootPath("/data/fpga"));
    testsupport::makeDirs(rootPath("/data/var"));
    LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 20, 2, false);
    const Bytes data = counting(5000, 3);
    const std::string written(data.begin(), data.end());
    ASSERT_EQ(0, FPGAControl::writeFile(data.data(), data.size(), "/data/fpga/out.bin"));
    EXPECT_EQ(written, testsupport::readFile(rootPath("/data/fpga/out.bin")));

    // A device that is always full: the write fails with ENOSPC.
    ASSERT_EQ(0, symlink("/dev/full", rootPath("/data/fpga/full.bin").c_str()));
    EXPECT_EQ(-1, FPGAControl::writeFile(data.data(), data.size(), "/data/fpga/full.bin"));
    EXPECT_EQ(-1, FPGAControl::writeFile(data.data(), data.size(), "/data/no-such-folder/out.bin"));
    EXPECT_NE(std::string::npos, logText().find("FPGAControl::writeFile: write /data/fpga/full.bin: No space left on device"));

    // With standard input closed the file gets descriptor 0, and is written all the same.
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        close(0);
        const int rc = FPGAControl::writeFile(data.data(), data.size(), "/data/fpga/zero.bin");
        _exit(rc == 0 && testsupport::readFile(rootPath("/data/fpga/zero.bin")) == written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "descriptor 0 was taken for a failure";
}

TEST_F(FpgaLink, LinePackets)
{
    const size_t seg = 4;
    const Bytes lines = counting(2 * 3 * seg, 1);
    EXPECT_EQ(8, fpga.sendLines(lines.data(), seg, 3 * seg, 2, 1));
    auto packets = sink.linePackets();
    ASSERT_EQ(6u, packets.size());
    EXPECT_TRUE(packets[0].first);
    for (size_t i = 1; i < packets.size(); ++i)
        EXPECT_FALSE(packets[i].first) << i;
    EXPECT_EQ((std::vector<Bytes>{Bytes(lines.begin(), lines.begin() + 12), Bytes(lines.begin() + 12, lines.end())}),
              sink.lines(3));

    // Mode 2 interleaves the two halves of each line.
    EXPECT_EQ(8, fpga.sendLines(lines.data(), seg, 3 * seg, 1, 2));
    EXPECT_EQ((std::vector<Bytes>{{1, 7, 2, 8, 3, 9, 4, 10, 5, 11, 6, 12}}), sink.lines(3));

    // Pairs: the first two segments of every stride.
    const Bytes rows = counting(2 * 13, 1);
    EXPECT_EQ(8, fpga.sendLinePairs(rows.data(), seg, 13, 2));
    EXPECT_EQ((std::vector<Bytes>{{1, 2, 3, 4, 5, 6, 7, 8}, {14, 15, 16, 17, 18, 19, 20, 21}}), sink.lines(2));
    EXPECT_TRUE(sink.errors().empty());

    // Proportions that would write past the three packets are refused unsent.
    const size_t sent = board.traffic().entries(kSpiPath, "spi").size();
    EXPECT_EQ(-EINVAL, fpga.sendLines(lines.data(), seg, 3 * seg + 1, 1, 1));
    EXPECT_EQ(-EINVAL, fpga.sendLines(lines.data(), 0, 0, 1, 1));
    EXPECT_EQ(-EINVAL, fpga.sendLinePairs(rows.data(), seg, 3 * seg - 1, 1));
    EXPECT_EQ(-EINVAL, fpga.sendLines(lines.data(), FPGAControl::kMaxSpiMessage, 3 * FPGAControl::kMaxSpiMessage, 1, 1));
    EXPECT_EQ(sent, board.traffic().entries(kSpiPath, "spi").size());
    EXPECT_EQ(0, fpga.sendLines(lines.data(), seg, 3 * seg, 0, 1));
    EXPECT_EQ(0, fpga.sendLinePairs(rows.data(), seg, 13, 0));
}

TEST_F(FpgaLink, ReadbackEchoesOnePositionLater)
{
    EXPECT_EQ(0, fpga.spiReadbackTest());
}

// Tests that wait out the FPGA's 30 s restart: forty machine seconds a real one.
class FpgaBitstream : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(0, link.fpga.connect()); }

    std::string bitstreamFile(const std::string& name, const Bytes& content)
    {
        testsupport::makeDirs(rootPath("/data/fpga"));
        testsupport::writeFile(rootPath("/data/fpga/" + name), std::string(content.begin(), content.end()));
        return "/data/fpga/" + name;
    }

    FpgaBoard link{40};
};

TEST_F(FpgaBitstream, LoadsPageByPage)
{
    const Bytes content = counting(300, 7);
    EXPECT_EQ(0, link.fpga.loadBitstream(bitstreamFile("small.bit", content)));
    EXPECT_EQ(Bitstream::Complete, link.sink->bitstreamState());
    EXPECT_TRUE(link.sink->errors().empty());
    Bytes padded = content;
    padded.resize(512, 0);
    EXPECT_EQ(padded, link.sink->bitstream());
    const auto headers = link.sink->headers();
    ASSERT_EQ(2u, headers.size());
    EXPECT_EQ(0, headers[0].position);
    EXPECT_EQ(2, headers[1].position);
    EXPECT_EQ(FPGAControl::crc16(padded.data(), 256), headers[0].crc);
    EXPECT_EQ(FPGAControl::crc16(padded.data() + 256, 256), headers[1].crc);
    EXPECT_EQ(0x27, link.peer.frames().front()[1]);

    const Bytes bigger = counting(1024, 3);
    EXPECT_EQ(0, link.fpga.loadBitstream(bitstreamFile("bigger.bit", bigger)));
    EXPECT_EQ(bigger, link.sink->bitstream());
    std::vector<int> positions;
    for (size_t i = 2; i < link.sink->headers().size(); ++i)
        positions.push_back(link.sink->headers()[i].position);
    EXPECT_EQ((std::vector<int>{0, 1, 1, 2}), positions);
    EXPECT_TRUE(link.sink->errors().empty());

    EXPECT_EQ(-1, link.fpga.loadBitstream("/data/fpga/missing.bit"));
    EXPECT_EQ(-1, link.fpga.loadBitstream(bitstreamFile("empty.bit", {})));
}

TEST_F(FpgaBitstream, AnFpgaThatNeverAnswersDoesNotHangTheLoad)
{
    const std::string file = bitstreamFile("small.bit", counting(300));
    link.peer.cutReplies(0x26, 0);
    const long long start = testsupport::monotonicMs();
    EXPECT_EQ(-ETIMEDOUT, link.fpga.loadBitstream(file));
    EXPECT_LT(testsupport::monotonicMs() - start, 30000);
    EXPECT_TRUE(link.sink->headers().empty());

    // It takes the pages but never reports them loaded.
    link.peer.cutReplies(0x26, 8);
    link.peer.setReply(0x26, {0x5A, 0x26, 0, 0, 0, 0, 0, 11});
    EXPECT_EQ(-ETIMEDOUT, link.fpga.loadBitstream(file));
    EXPECT_EQ(2u, link.sink->headers().size());
}

TEST_F(FpgaLink, JtagIdentifiesBothAcceptedChips)
{
    for (uint32_t id : {0x1100481Bu, 0x1100581Bu}) {
        jtag.setId(id);
        EXPECT_EQ(0, fpga.checkJtag()) << std::hex << id;
    }
    jtag.setId(0x1100481C);
    EXPECT_EQ(-2, fpga.checkJtag());
    EXPECT_EQ(0, jtag.reprograms());
    EXPECT_EQ(0, board.openFiles(kJtagPath));

    board.faults().failNext(kJtagPath, sim::IoOp::Ioctl, 1, EIO, sim::JtagModel::kGetId);
    EXPECT_EQ(-1, fpga.checkJtag());
    board.detach(kJtagPath);
    EXPECT_EQ(-1, fpga.checkJtag());
}

TEST_F(FpgaLink, JtagReprogramsABadStatus)
{
    jtag.setStatus(sim::JtagModel::kStatusUnconfigured);
    jtag.fixAfterReprograms(2);
    EXPECT_EQ(0, fpga.checkJtag());
    EXPECT_EQ(2, jtag.reprograms());

    // Still bad after every attempt: a failure, not success.
    jtag.setStatus(sim::JtagModel::kStatusUnconfigured);
    jtag.fixAfterReprograms(0);
    EXPECT_EQ(-4, fpga.checkJtag());
    EXPECT_EQ(2 + 3, jtag.reprograms());
    EXPECT_NE(std::string::npos, logText().find("still bad after 3 reprogramming attempts"));

    board.faults().failNext(kJtagPath, sim::IoOp::Ioctl, 1, EIO, sim::JtagModel::kReprogram);
    EXPECT_EQ(-11, fpga.checkJtag());
    board.faults().failNext(kJtagPath, sim::IoOp::Ioctl, 1, EIO, sim::JtagModel::kGetStatusRegister);
    EXPECT_EQ(-3, fpga.checkJtag());
    EXPECT_EQ(0, board.openFiles(kJtagPath));
}

TEST_F(FpgaLink, ProgrammingToolGetsQuotedPaths)
{
    SKIP_WITHOUT_SANDBOX();
    sim::FpgaToolStub tool(rootPath("/opt/fpga tools"));
    tool.setFixAfter(2);
    const std::string file = "/media/usb 1/it's $(touch pwned).bit";
    EXPECT_EQ(0, fpga.upgradeFirmware("/opt/fpga tools/fpga-tool", file));
    const auto runs = tool.programRuns();
    ASSERT_EQ(2u, runs.size());
    EXPECT_EQ((std::vector<std::string>{"-D", "/dev/jtag", "-V", "-F", rootPath(file)}), runs[0]);
    EXPECT_FALSE(testsupport::fileExists("pwned"));
    EXPECT_FALSE(testsupport::fileExists(rootPath("/opt/fpga tools/pwned")));

    tool.setFixAfter(0);
    EXPECT_EQ(-2, fpga.upgradeFirmware("/opt/fpga tools/fpga-tool", file));
    EXPECT_EQ(2u + 3u, tool.programRuns().size());
    EXPECT_NE(std::string::npos, logText().find("upgradeFirmware error status code 0000"));

    tool.setIdCode("1100581b");
    tool.setFixAfter(1);
    EXPECT_EQ(0, fpga.upgradeFirmware("/opt/fpga tools/fpga-tool", file));
    tool.setIdCode("2200481b");
    EXPECT_EQ(-1, fpga.upgradeFirmware("/opt/fpga tools/fpga-tool", file));
    EXPECT_EQ(2u + 3u + 1u, tool.programRuns().size());

    // Without a shell: the argument text is split into words, nothing more.
    const int status = fpga.runTool("/opt/fpga tools/fpga-tool", "-D /dev/jtag;touch pwned");
    EXPECT_EQ(0, status);
    EXPECT_EQ((std::vector<std::string>{"-D", "/dev/jtag;touch", "pwned"}), tool.programRuns().back());
}
