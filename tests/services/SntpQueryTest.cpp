#include "services/SntpQuery.h"

#include "base/buses/ByteOrder.h"
#include "support/TestChronyd.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

using testsupport::monotonicMs;

namespace {

constexpr int64_t kSecond = 1000000;
constexpr uint32_t kEpochGap = 2208988800u;

using Packet = std::string; // 48 bytes as sent on the wire

// A sound reply to `request` from a stratum-2 server whose clock is `aheadS`
// seconds ahead of ours.
Packet goodReply(const Packet& request, int aheadS)
{
    Packet reply(48, '\0');
    reply[0] = 0x1c; // no leap warning, version 3, server
    reply[1] = 2;
    memcpy(&reply[24], &request[40], 8);
    timeval now{};
    gettimeofday(&now, nullptr);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&reply[0]);
    putUint32(static_cast<uint32_t>(now.tv_sec + aheadS) + kEpochGap, bytes + 32, false);
    putUint32(static_cast<uint32_t>(now.tv_sec + aheadS) + kEpochGap, bytes + 40, false);
    return reply;
}

// A reply to `request` from a server of `stratum` with its receive and
// transmit timestamps as given (NTP seconds and fractions, 0 for none).
Packet replyWithTimes(const Packet& request, int stratum, uint32_t receiveS, uint32_t receiveFraction,
                      uint32_t transmitS, uint32_t transmitFraction)
{
    Packet reply(48, '\0');
    reply[0] = 0x1c;
    reply[1] = static_cast<char>(stratum);
    memcpy(&reply[24], &request[40], 8);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&reply[0]);
    putUint32(receiveS, bytes + 32, false);
    putUint32(receiveFraction, bytes + 36, false);
    putUint32(transmitS, bytes + 40, false);
    putUint32(transmitFraction, bytes + 44, false);
    return reply;
}

// NTP seconds of the current time plus `aheadS`.
uint32_t ntpNow(int64_t aheadS = 0)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<uint32_t>(now.tv_sec + aheadS) + kEpochGap;
}

// A UDP peer on loopback that answers each request with what `answer` makes
// of it; an empty answer sends nothing.
class Responder
{
public:
    explicit Responder(std::function<Packet(const Packet&)> answer) : m_answer(std::move(answer))
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        pipe(m_stop);
        m_thread = std::thread([this] { serve(); });
    }
    ~Responder()
    {
        (void)write(m_stop[1], "x", 1);
        m_thread.join();
        close(m_fd);
        close(m_stop[0]);
        close(m_stop[1]);
    }
    uint16_t port() const { return m_port; }

private:
    void serve()
    {
        for (;;) {
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents)
                return;
            char buffer[512];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0)
                continue;
            const Packet reply = m_answer(Packet(buffer, static_cast<size_t>(n)));
            if (!reply.empty())
                sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
    }

    std::function<Packet(const Packet&)> m_answer;
    int m_fd = -1;
    int m_stop[2] = {-1, -1};
    uint16_t m_port = 0;
    std::thread m_thread;
};

// Runs a query against a responder, returning the result and the message printed.
int queryResponder(const Responder& peer, timeval* tv, std::string* errors, int limitMs = 1000)
{
    testing::internal::CaptureStderr();
    const int rc = sntpQuery("127.0.0.1", peer.port(), limitMs, tv);
    *errors = testing::internal::GetCapturedStderr();
    return rc;
}

const unsigned char* bytesOf(const Packet& packet)
{
    return reinterpret_cast<const unsigned char*>(packet.data());
}

int64_t wallMicros()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<int64_t>(now.tv_sec) * kSecond + now.tv_usec;
}

int64_t microsOf(const timeval& tv)
{
    return static_cast<int64_t>(tv.tv_sec) * kSecond + tv.tv_usec;
}

} // namespace

TEST(SntpArithmetic, CorrectsByHalfTheOffsetsWithTheHalvingTruncatedTowardZero)
{
    EXPECT_EQ(sntp::correctedTime(1000 * kSecond, 1001 * kSecond, 1001 * kSecond, 1002 * kSecond), 1002 * kSecond);
    EXPECT_EQ(sntp::correctedTime(1000 * kSecond, 1011 * kSecond, 1011 * kSecond, 1002 * kSecond), 1012 * kSecond);
    EXPECT_EQ(sntp::correctedTime(0, 0, 3, 0), 1);
    EXPECT_EQ(sntp::correctedTime(0, 0, -3, 0), -1);
}

TEST(SntpArithmetic, ConvertsNtpTimestampsToUnixMicroseconds)
{
    const uint32_t s = 3900000000u; // 2023
    EXPECT_EQ(sntp::ntpToUnixMicros(s, 0), static_cast<int64_t>(s - kEpochGap) * kSecond);
    EXPECT_EQ(sntp::ntpToUnixMicros(s, 2147483648u), static_cast<int64_t>(s - kEpochGap) * kSecond + 500000);
    EXPECT_EQ(sntp::ntpToUnixMicros(kEpochGap, 0), 0);
    // Past 2038 (signed 32-bit Unix time would turn negative) and past the
    // NTP era rollover in February 2036 (the seconds start again at 0).
    EXPECT_EQ(sntp::ntpToUnixMicros(kEpochGap + 2147483648u, 0), 2147483648LL * kSecond);
    EXPECT_EQ(sntp::ntpToUnixMicros(16, 0), (4294967296LL - kEpochGap + 16) * kSecond);
}

TEST(SntpReply, AcceptsOnlyWholeSynchronisedServerRepliesToThisRequest)
{
    Packet request(48, '\0');
    request[0] = 27;
    for (int i = 40; i < 48; ++i)
        request[i] = static_cast<char>(i);
    const Packet good = goodReply(request, 0);
    EXPECT_EQ(sntp::rejectReply(bytesOf(request), bytesOf(good), 48), nullptr);
    EXPECT_STREQ(sntp::rejectReply(bytesOf(request), bytesOf(good), 47), "short reply");
    EXPECT_STREQ(sntp::rejectReply(bytesOf(request), bytesOf(good), 49), "short reply");

    auto rejected = [&](const std::function<void(Packet&)>& spoil) {
        Packet reply = good;
        spoil(reply);
        const char* why = sntp::rejectReply(bytesOf(request), bytesOf(reply), 48);
        return std::string(why ? why : "accepted");
    };
    EXPECT_EQ(rejected([](Packet& p) { p[0] = 0x1b; }), "not a server reply");
    EXPECT_EQ(rejected([](Packet& p) { p[0] = static_cast<char>(0xdc); }), "server not synchronised");
    EXPECT_EQ(rejected([](Packet& p) { p[1] = 0; }), "server not synchronised");
    EXPECT_EQ(rejected([](Packet& p) { p[1] = 16; }), "server not synchronised");
    EXPECT_EQ(rejected([](Packet& p) { p[1] = 15; }), "accepted");
    EXPECT_EQ(rejected([](Packet& p) { memset(&p[40], 0, 8); }), "no transmit time");
    EXPECT_EQ(rejected([](Packet& p) { p[31] ^= 1; }), "reply to another request");
}

TEST(SntpQuery, SetsTheTimeFromASoundReplyCorrectedForTheServersOffset)
{
    Responder peer([](const Packet& request) { return goodReply(request, 10); });
    timeval tv{};
    std::string errors;
    ASSERT_EQ(queryResponder(peer, &tv, &errors), 0) << errors;
    EXPECT_NEAR(static_cast<double>(microsOf(tv) - wallMicros()), 10.0 * kSecond, 2.0 * kSecond);
}

TEST(SntpQuery, FailsLikeAFailedReadOnShortWrongOrMissingReplies)
{
    const std::vector<std::function<Packet(const Packet&)>> peers = {
        [](const Packet&) { return Packet(10, '\x1c'); },
        [](const Packet& r) { return goodReply(r, 0) + "trailing"; },
        [](const Packet& r) { Packet p = goodReply(r, 0); p[0] = static_cast<char>(0xdc); return p; },
        [](const Packet& r) { Packet p = goodReply(r, 0); p[24] ^= 1; return p; },
        [](const Packet& r) { return r; }, // an echo: mode 3
    };
    for (size_t i = 0; i < peers.size(); ++i) {
        Responder peer(peers[i]);
        timeval tv{};
        std::string errors;
        EXPECT_EQ(queryResponder(peer, &tv, &errors), -1) << "peer " << i;
        EXPECT_NE(errors.find("ERROR reading from socket"), std::string::npos) << errors;
    }
}

TEST(SntpReply, TimesMustFitTheExchange)
{
    sntp::ServerTimes times;
    times.received = times.transmitted = true;
    times.t2 = 1000 * kSecond;
    times.t3 = 1000 * kSecond + 30;
    times.roundTrip = 500;
    EXPECT_EQ(sntp::rejectTimes(times), nullptr);
    sntp::ServerTimes same = times;
    same.t3 = same.t2;
    EXPECT_EQ(sntp::rejectTimes(same), nullptr);

    sntp::ServerTimes bad = times;
    bad.received = false;
    EXPECT_STREQ(sntp::rejectTimes(bad), "no receive or transmit time");
    bad = times;
    bad.transmitted = false;
    EXPECT_STREQ(sntp::rejectTimes(bad), "no receive or transmit time");
    bad = times;
    bad.t3 = bad.t2 - 1;
    EXPECT_STREQ(sntp::rejectTimes(bad), "transmit time before receive time");
    bad = times;
    bad.t3 = bad.t2 + 501;
    EXPECT_STREQ(sntp::rejectTimes(bad), "server times do not fit the exchange");

    // The window opens on the day of the build and spans two decades.
    EXPECT_LE(sntp::earliestTrueTime(), wallMicros());
    EXPECT_GT(sntp::earliestTrueTime(), 1700000000LL * kSecond); // built after November 2023
    EXPECT_EQ(sntp::latestTrueTime() - sntp::earliestTrueTime(), 20 * 365 * 86400 * kSecond);
}

// Replies that are well formed and answer this request, yet carry times
// that cannot be true; each would have set the clock.
TEST(SntpQuery, RefusesRepliesWithImpossibleTimes)
{
    const uint32_t in1970 = kEpochGap + 1000;
    const uint32_t in2100 = static_cast<uint32_t>(4102444800LL + kEpochGap); // modulo 2^32, as on the wire
    struct Case
    {
        const char* what;
        std::function<Packet(const Packet&)> answer;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"no receive time (the era of 2036)",
         [](const Packet& r) { return replyWithTimes(r, 2, 0, 0, ntpNow(), 0); }, "no receive or transmit time"},
        {"transmit an hour after receive",
         [](const Packet& r) { return replyWithTimes(r, 2, ntpNow(), 0, ntpNow(3600), 0); },
         "server times do not fit the exchange"},
        {"transmit an hour before receive",
         [](const Packet& r) { return replyWithTimes(r, 2, ntpNow(3600), 0, ntpNow(), 0); },
         "transmit time before receive time"},
        {"stratum 1 in 1970",
         [=](const Packet& r) { return replyWithTimes(r, 1, in1970, 0, in1970, 0); },
         "time outside the years this program can be running in"},
        {"stratum 1 in 2100",
         [=](const Packet& r) { return replyWithTimes(r, 1, in2100, 0, in2100, 0); },
         "time outside the years this program can be running in"},
    };
    for (const Case& c : cases) {
        Responder peer(c.answer);
        timeval tv{};
        std::string errors;
        EXPECT_EQ(queryResponder(peer, &tv, &errors), -1) << c.what << ": " << microsOf(tv);
        EXPECT_NE(errors.find(std::string("ERROR reading from socket: ") + c.why), std::string::npos)
            << c.what << ": " << errors;
    }

    // A server a few minutes off, turning the request round in a moment, is right.
    Responder sound([](const Packet& r) {
        const uint32_t at = ntpNow(300);
        return replyWithTimes(r, 1, at, 0, at, 4295); // sent a microsecond after it came
    });
    timeval tv{};
    std::string errors;
    ASSERT_EQ(queryResponder(sound, &tv, &errors), 0) << errors;
    EXPECT_NEAR(static_cast<double>(microsOf(tv) - wallMicros()), 300.0 * kSecond, 2.0 * kSecond);
}

TEST(SntpQuery, GivesUpOnASilentServerWithinItsLimit)
{
    Responder silent([](const Packet&) { return Packet(); });
    timeval tv{};
    std::string errors;
    const long long start = monotonicMs();
    EXPECT_EQ(queryResponder(silent, &tv, &errors, 300), -1);
    EXPECT_LT(monotonicMs() - start, 5000);
    EXPECT_NE(errors.find("ERROR reading from socket: Connection timed out"), std::string::npos) << errors;
}

TEST(SntpQuery, ClosesItsSocketOnEveryPath)
{
    Responder silent([](const Packet&) { return Packet(); });
    Responder good([](const Packet& r) { return goodReply(r, 0); });
    const int before = testsupport::entriesIn("/proc/self/fd");
    timeval tv{};
    std::string errors;
    for (int i = 0; i < 5; ++i) {
        queryResponder(silent, &tv, &errors, 10);
        queryResponder(good, &tv, &errors);
        testing::internal::CaptureStderr();
        sntpQuery("", &tv);
        testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(testsupport::entriesIn("/proc/self/fd"), before);
}

// The real server, in namespaces of the test, on the standard port.
TEST(SntpQuery, AsksChronydAndRefusesItWhileUnsynchronisedOrStopped)
{
    RUN_IN_TEST_NAMESPACES([] {
        timeval tv{};
        {
            testsupport::TestChronyd chronyd(123, 10);
            ASSERT_TRUE(chronyd.serving()) << chronyd.why();
            ASSERT_EQ(sntpQuery("127.0.0.1", &tv), 0);
            EXPECT_NEAR(static_cast<double>(microsOf(tv) - wallMicros()), 0.0, 2.0 * kSecond);
            ASSERT_EQ(sntpQuery("localhost", &tv), 0);
        }
        long long start = monotonicMs();
        testing::internal::CaptureStderr();
        EXPECT_EQ(sntpQuery("127.0.0.1", &tv), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR reading from socket"), std::string::npos);
        EXPECT_LT(monotonicMs() - start, kSntpReplyLimitMs + 2000);

        testsupport::TestChronyd unsynchronised(123, 0);
        ASSERT_TRUE(unsynchronised.serving()) << unsynchronised.why();
        start = monotonicMs();
        testing::internal::CaptureStderr();
        EXPECT_EQ(sntpQuery("127.0.0.1", &tv), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("server not synchronised"), std::string::npos);
        EXPECT_LT(monotonicMs() - start, kSntpReplyLimitMs + 2000);
    });
}

TEST(SntpQuery, ReportsAHostThatDoesNotResolveBeforeSendingAnything)
{
    // No network beyond loopback in the namespace: nothing leaves the machine.
    RUN_IN_TEST_NAMESPACES([] {
        timeval tv{};
        testing::internal::CaptureStderr();
        EXPECT_EQ(sntpQuery("no-such-host.invalid", &tv), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("ERROR, no such host", 0), 0u);
    });
}
