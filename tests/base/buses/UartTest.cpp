#include "base/buses/Uart.h"
#include "base/buses/UartSettings.h"
#include "base/platform/Platform.h"
#include "board/PtyPeer.h"
#include "board/ScaledClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using HardwareInterface::Uart;
using HardwareInterface::uartSettings;
using testsupport::monotonicMs;

namespace {

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Everything a cooked terminal has on that a raw port must not.
termios cookedTerminal()
{
    termios tio{};
    tio.c_iflag = ICRNL | IXON | BRKINT;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_cflag = CRTSCTS | CS7 | PARENB | PARODD | CSTOPB;
    tio.c_lflag = ICANON | ECHO | ECHOE | ISIG;
    tio.c_cc[VMIN] = 1;
    return tio;
}

class UartOnPty : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(0, uart.open(peer.slavePath().c_str(), 115200, 'N', 8, 1)); }

    sim::PtyPeer peer;
    Uart uart;
    char buffer[64] = {};
};

} // namespace

TEST(UartSettings, SpeedTable)
{
    const std::vector<std::pair<int, speed_t>> table = {
        {1200, B1200},   {1800, B1800},   {4800, B4800},  {9600, B9600},  {38400, B38400}, {57600, B57600},
        {115200, B115200}, {2400, B19200}, {19200, B19200}, {230400, B19200}, {0, B19200}};
    for (const auto& [baud, speed] : table) {
        const termios tio = uartSettings(cookedTerminal(), baud, 'N', 8, 1);
        EXPECT_EQ(speed, cfgetispeed(&tio)) << baud;
        EXPECT_EQ(speed, cfgetospeed(&tio)) << baud;
    }
}

TEST(UartSettings, FrameBitsParityAndStopBits)
{
    const std::vector<std::pair<int, tcflag_t>> sizes = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}, {9, CS8}, {0, CS8}};
    for (const auto& [bits, size] : sizes)
        EXPECT_EQ(size, uartSettings(cookedTerminal(), 9600, 'N', bits, 1).c_cflag & CSIZE) << bits;

    for (char parity : {'E', 'e'}) {
        const tcflag_t flags = uartSettings(cookedTerminal(), 9600, parity, 8, 1).c_cflag;
        EXPECT_TRUE(flags & PARENB);
        EXPECT_FALSE(flags & PARODD);
    }
    for (char parity : {'O', 'o'}) {
        const tcflag_t flags = uartSettings(termios{}, 9600, parity, 8, 1).c_cflag;
        EXPECT_TRUE(flags & PARENB);
        EXPECT_TRUE(flags & PARODD);
    }
    for (char parity : {'N', 'x'})
        EXPECT_FALSE(uartSettings(cookedTerminal(), 9600, parity, 8, 1).c_cflag & PARENB);

    EXPECT_TRUE(uartSettings(termios{}, 9600, 'N', 8, 2).c_cflag & CSTOPB);
    EXPECT_FALSE(uartSettings(cookedTerminal(), 9600, 'N', 8, 1).c_cflag & CSTOPB);
    EXPECT_FALSE(uartSettings(cookedTerminal(), 9600, 'N', 8, 3).c_cflag & CSTOPB);
}

TEST(UartSettings, RawWithTwoSecondReads)
{
    const termios tio = uartSettings(cookedTerminal(), 115200, 'N', 8, 1);
    EXPECT_FALSE(tio.c_iflag & (ICRNL | IXON));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tcflag_t(CLOCAL | CREAD), tio.c_cflag & (CLOCAL | CREAD));
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ECHOE | ISIG));
    EXPECT_EQ(0, tio.c_cc[VMIN]);
    EXPECT_EQ(20, tio.c_cc[VTIME]);
}

TEST(Uart, OpenConfiguresThePort)
{
    sim::PtyPeer peer;
    Uart uart;
    ASSERT_EQ(0, uart.open(peer.slavePath().c_str(), 2400, 'e', 7, 2));
    EXPECT_TRUE(uart.isOpen());
    const int fd = open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(0, tcgetattr(fd, &tio));
    close(fd);
    // A pty keeps 8 bits without parity whatever it is told; the rest sticks.
    EXPECT_EQ(speed_t(B19200), cfgetospeed(&tio));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(20, tio.c_cc[VTIME]);
    EXPECT_EQ(0, uart.close());
    EXPECT_FALSE(uart.isOpen());
    EXPECT_EQ(0, uart.close());
}

TEST(Uart, OpenFailuresLeaveThePortClosed)
{
    Uart uart;
    EXPECT_EQ(-1, uart.open("/nonexistent/tty", 9600, 'N', 8, 1));
    EXPECT_FALSE(uart.isOpen());
    const std::string file = testsupport::scratchRoot() + "/plain";
    testsupport::writeFile(file, "not a terminal");
    EXPECT_EQ(-1, uart.open(file.c_str(), 9600, 'N', 8, 1));
    EXPECT_FALSE(uart.isOpen());
    // A closed port touches no descriptor, standard input included.
    EXPECT_EQ(-ENOENT, uart.read(nullptr, 4));
    EXPECT_EQ(-ENOENT, uart.write("x", 1));
    EXPECT_EQ(-1, uart.flushInput());
}

TEST_F(UartOnPty, ReadReturnsWhatCameWhenTheWaitTimesOut)
{
    uart.setTimeout(100);
    ASSERT_TRUE(peer.send("abcd"));
    const long long start = monotonicMs();
    EXPECT_EQ(4, uart.read(buffer, 10));
    const long long elapsed = monotonicMs() - start;
    EXPECT_EQ("abcd", std::string(buffer, 4));
    EXPECT_GE(elapsed, 95);
    EXPECT_LT(elapsed, 2000);
}

TEST_F(UartOnPty, APeerHasItsTimeOutInMachineTimeAndInRealTime)
{
    uart.setTimeout(1000);
    struct Case
    {
        double speed;     // of the machine clock
        int replyAfterMs; // of real time
    };
    // At a hundred times real time the time-out would pass in 10 ms of real
    // time, less than a busy host may take to run the peer at all; at a
    // quarter of it, the time-out lasts 4 s of real time.
    for (const Case c : {Case{100, 300}, Case{0.25, 1500}}) {
        SCOPED_TRACE(c.speed);
        sim::ScaledClock clock(c.speed);
        ScopedPlatform installed(&clock);
        std::thread late([this, c] {
            pause(c.replyAfterMs);
            peer.send("ok\r\n");
        });
        EXPECT_EQ(4, uart.recvLine(buffer, sizeof buffer));
        late.join();
    }
}

TEST_F(UartOnPty, ReadGathersBytesArrivingInPieces)
{
    uart.setTimeout(1000);
    std::thread sender([this] {
        peer.send("abc");
        pause(50);
        peer.send("defgh");
    });
    EXPECT_EQ(8, uart.read(buffer, 8));
    sender.join();
    EXPECT_EQ("abcdefgh", std::string(buffer, 8));
}

TEST_F(UartOnPty, RecvLineKeepsCarriageReturnAndLineFeed)
{
    uart.setTimeout(1000);
    ASSERT_TRUE(peer.send("ok\r\nnext\n"));
    EXPECT_EQ(4, uart.recvLine(buffer, sizeof buffer));
    EXPECT_EQ("ok\r\n", std::string(buffer, 4));
    EXPECT_EQ(5, uart.recvLine(buffer, sizeof buffer));
    EXPECT_EQ("next\n", std::string(buffer, 5));
}

TEST_F(UartOnPty, RecvLineRefusesWhatDoesNotFit)
{
    uart.setTimeout(100);
    EXPECT_EQ(-ENOENT, uart.recvLine(buffer, 1));
    ASSERT_TRUE(peer.send("abc\n"));
    EXPECT_EQ(4, uart.recvLine(buffer, 4)); // the newline may take the last place
    ASSERT_TRUE(peer.send("abcdef\n"));
    EXPECT_EQ(-ENOENT, uart.recvLine(buffer, 4));
    // A partial line is dropped when the wait for the rest times out.
    uart.flushInput();
    ASSERT_TRUE(peer.send("ab"));
    const long long start = monotonicMs();
    EXPECT_EQ(-ENOENT, uart.recvLine(buffer, sizeof buffer));
    EXPECT_GE(monotonicMs() - start, 95);
}

TEST_F(UartOnPty, APeerThatHangsUpEndsReadsAtOnce)
{
    uart.setTimeout(5000);
    peer.hangUp();
    const long long start = monotonicMs();
    EXPECT_EQ(-ENOENT, uart.read(buffer, 8));
    EXPECT_EQ(-ENOENT, uart.recvLine(buffer, sizeof buffer));
    EXPECT_EQ(-ENOENT, uart.write("x", 1));
    EXPECT_LT(monotonicMs() - start, 2000);
}

TEST_F(UartOnPty, FlushInputDropsPendingBytes)
{
    uart.setTimeout(1000);
    ASSERT_TRUE(peer.send("stale"));
    pause(30);
    EXPECT_EQ(0, uart.flushInput());
    ASSERT_TRUE(peer.send("ok\n"));
    EXPECT_EQ(3, uart.recvLine(buffer, sizeof buffer));
}

TEST_F(UartOnPty, FlushDropsPendingInputAndKeepsThePortWorking)
{
    // A pseudo-terminal hands written bytes to its peer at once, so only the
    // input side has anything to drop here.
    uart.setTimeout(1000);
    ASSERT_TRUE(peer.send("stale input"));
    ASSERT_EQ(0, uart.write("before", 6));
    pause(30);
    EXPECT_EQ(0, uart.flush());
    ASSERT_TRUE(peer.send("in\n"));
    EXPECT_EQ(3, uart.recvLine(buffer, sizeof buffer));
    EXPECT_EQ("in\n", std::string(buffer, 3));
    ASSERT_EQ(0, uart.write("after", 5));
    const std::string received = peer.receive(16, 300);
    EXPECT_EQ("after", received.substr(received.size() - std::min<size_t>(5, received.size())));

    uart.close();
    errno = 0;
    EXPECT_EQ(-1, uart.flush());
    EXPECT_EQ(EBADF, errno);
}

TEST_F(UartOnPty, WriteDeliversEveryByteThroughSignals)
{
    struct sigaction action{};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: interrupted writes come back short or with EINTR
    sigaction(SIGUSR1, &action, nullptr);

    std::string data(256 * 1024, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    std::string received;
    std::thread reader([&] {
        while (received.size() < data.size()) {
            const std::string part = peer.receive(std::min<size_t>(4096, data.size() - received.size()), 2000);
            if (part.empty())
                break;
            received += part;
            pause(1); // a slow reader keeps the writer blocked, so signals hit it mid-write
        }
    });
    std::atomic<bool> done{false};
    const pthread_t writer = pthread_self();
    std::thread storm([&] {
        while (!done) {
            pthread_kill(writer, SIGUSR1);
            pause(1);
        }
    });
    EXPECT_EQ(0, uart.write(data.data(), static_cast<int>(data.size())));
    done = true;
    storm.join();
    reader.join();
    EXPECT_TRUE(received == data);
}

TEST_F(UartOnPty, WritesFromTwoThreadsArriveWhole)
{
    // Signals cut blocked writes short; the rest of a frame must still go
    // out before another thread's frame.
    struct sigaction action{};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, nullptr);

    constexpr size_t kFrame = 4096;
    constexpr int kFrames = 24;
    std::string received;
    std::thread reader([&] {
        while (received.size() < 2 * kFrames * kFrame) {
            const std::string part = peer.receive(1024, 2000);
            if (part.empty())
                break;
            received += part;
            pause(1);
        }
    });
    std::atomic<int> running{2};
    std::vector<std::thread> writers;
    std::vector<pthread_t> ids(2);
    std::atomic<int> started{0};
    for (int w = 0; w < 2; ++w)
        writers.emplace_back([&, w] {
            ids[w] = pthread_self();
            ++started;
            const std::string frame(kFrame, static_cast<char>('A' + w));
            for (int f = 0; f < kFrames; ++f)
                EXPECT_EQ(0, uart.write(frame.data(), static_cast<int>(frame.size())));
            --running;
        });
    while (started < 2)
        std::this_thread::yield();
    while (running > 0) {
        for (int w = 0; w < 2; ++w)
            pthread_kill(ids[w], SIGUSR1);
        pause(1);
    }
    for (auto& writer : writers)
        writer.join();
    reader.join();
    ASSERT_EQ(2 * kFrames * kFrame, received.size());
    for (size_t at = 0; at < received.size(); at += kFrame) {
        const std::string frame = received.substr(at, kFrame);
        ASSERT_EQ(std::string::npos, frame.find_first_not_of(frame[0])) << "frame " << at / kFrame << " mixes two writers";
    }
}

TEST(Uart, DescriptorsAbove1023AreWaitedOnSafely)
{
    std::vector<int> filler;
    for (int fd = 0; fd <= 1100;) {
        fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << "descriptor limit too low for this test";
        filler.push_back(fd);
    }
    sim::PtyPeer peer;
    Uart uart;
    ASSERT_EQ(0, uart.open(peer.slavePath().c_str(), 115200, 'N', 8, 1));
    uart.setTimeout(50);
    char buffer[8] = {};
    EXPECT_EQ(0, uart.read(buffer, 4));
    ASSERT_TRUE(peer.send("hi\n"));
    EXPECT_EQ(3, uart.recvLine(buffer, sizeof buffer));
    for (int fd : filler)
        close(fd);
}
