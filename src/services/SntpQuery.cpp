#include "services/SntpQuery.h"

#include "base/buses/ByteOrder.h"
#include "base/net/UdpSocket.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr uint32_t kNtpToUnixSeconds = 2208988800u; // 1900-01-01 to 1970-01-01
constexpr int64_t kMicros = 1000000;
constexpr int64_t kTrustedYears = 20; // after the build, for a machine that gets no update

uint32_t readUint32(const unsigned char* bytes)
{
    uint32_t value = 0;
    getUint32BE(value, bytes);
    return value;
}

// Closes the socket on every way out of the query.
struct SocketCloser
{
    UdpSocket& socket;
    ~SocketCloser() { socket.close(); }
};

int64_t microsOf(const timeval& tv)
{
    return static_cast<int64_t>(tv.tv_sec) * kMicros + tv.tv_usec;
}

int64_t microsOf(const timespec& ts)
{
    return timespecToNs(ts) / 1000;
}

// The day this file was compiled, as microseconds since 1970.
int64_t buildDay()
{
    tm day = buildTimeOf(__DATE__, "00:00:00");
    return static_cast<int64_t>(timegm(&day)) * kMicros;
}

int resolve(const char* host, uint16_t port, sockaddr_in* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int rc = host ? getaddrinfo(host, nullptr, &hints, &found) : EAI_NONAME;
    if (rc != 0 || !found) {
        fprintf(stderr, "ERROR, no such host: %s\n", rc == EAI_SYSTEM ? strerror(errno) : gai_strerror(rc));
        return -1;
    }
    memcpy(address, found->ai_addr, sizeof *address);
    address->sin_port = htons(port);
    freeaddrinfo(found);
    return 0;
}

} // namespace

namespace sntp {

int64_t ntpToUnixMicros(uint32_t seconds, uint32_t fraction)
{
    const uint32_t unixSeconds = seconds - kNtpToUnixSeconds;
    return static_cast<int64_t>(unixSeconds) * kMicros +
           static_cast<int64_t>(fraction / 4294967295.0 * static_cast<double>(kMicros));
}

int64_t correctedTime(int64_t t1, int64_t t2, int64_t t3, int64_t t4)
{
    return t4 + ((t2 - t1) + (t3 - t4)) / 2;
}

const char* rejectReply(const unsigned char* request, const unsigned char* reply, size_t replyLength)
{
    if (replyLength != kSntpPacketSize)
        return "short reply";
    const unsigned leap = reply[0] >> 6;
    const unsigned mode = reply[0] & 7;
    const unsigned stratum = reply[1];
    if (mode != 4)
        return "not a server reply";
    if (leap == 3 || stratum < 1 || stratum > 15)
        return "server not synchronised";
    if (readUint32(reply + 40) == 0 && readUint32(reply + 44) == 0)
        return "no transmit time";
    // The server echoes our transmit time as its originate time.
    if (memcmp(reply + 24, request + 40, 8) != 0)
        return "reply to another request";
    return nullptr;
}

const char* rejectTimes(const ServerTimes& times)
{
    if (!times.received || !times.transmitted)
        return "no receive or transmit time";
    if (times.t3 < times.t2)
        return "transmit time before receive time";
    // The server's turn lies inside the exchange: more would be a clock
    // that jumped, or made-up times.
    if (times.t3 - times.t2 > times.roundTrip)
        return "server times do not fit the exchange";
    return nullptr;
}

int64_t earliestTrueTime()
{
    static const int64_t day = buildDay();
    return day;
}

int64_t latestTrueTime()
{
    return earliestTrueTime() + kTrustedYears * 365 * 86400 * kMicros;
}

} // namespace sntp

int sntpQuery(const char* host, timeval* time)
{
    return sntpQuery(host, 123, kSntpReplyLimitMs, time);
}

int sntpQuery(const char* host, uint16_t port, int replyLimitMs, timeval* time)
{
    unsigned char request[kSntpPacketSize] = {27}; // version 3, client
    unsigned char reply[kSntpPacketSize] = {};

    UdpSocket socket;
    if (socket.create(false) != 0) {
        perror("ERROR opening socket");
        return -1;
    }
    SocketCloser closer{socket};

    sockaddr_in address{};
    if (resolve(host, port, &address) != 0)
        return -1;
    if (socket.connect(InetAddress(address)) != 0) {
        perror("ERROR connecting");
        return -1;
    }

    const timeval sent = platform().clock().wallTime();
    const int64_t start = microsOf(kernelMonotonicNow());
    putUint32(static_cast<uint32_t>(sent.tv_sec), request + 24, false);
    putUint32(static_cast<uint32_t>(sent.tv_usec), request + 28, false);
    // Also as the transmit time in NTP form, which the server echoes back:
    // that is how its reply is told apart from a stale or forged one.
    putUint32(static_cast<uint32_t>(sent.tv_sec) + kNtpToUnixSeconds, request + 40, false);
    putUint32(static_cast<uint32_t>((static_cast<uint64_t>(sent.tv_usec) << 32) / kMicros), request + 44, false);

    if (write(socket.fd(), request, sizeof request) != static_cast<ssize_t>(sizeof request)) {
        perror("ERROR writing to socket");
        return -1;
    }
    const int ready = socket.waitReadable(replyLimitMs);
    if (ready == 0)
        errno = ETIMEDOUT;
    // MSG_TRUNC: the datagram's whole length, so a longer one is not taken for a reply.
    const ssize_t length = ready == 1 ? recv(socket.fd(), reply, sizeof reply, MSG_TRUNC) : -1;
    if (length < 0) {
        perror("ERROR reading from socket");
        return -1;
    }
    socket.close();
    const timeval received = platform().clock().wallTime();
    const int64_t roundTrip = microsOf(kernelMonotonicNow()) - start;

    const char* why = sntp::rejectReply(request, reply, static_cast<size_t>(length));
    sntp::ServerTimes times;
    if (!why) {
        times.received = readUint32(reply + 32) != 0 || readUint32(reply + 36) != 0;
        times.transmitted = readUint32(reply + 40) != 0 || readUint32(reply + 44) != 0;
        times.t2 = sntp::ntpToUnixMicros(readUint32(reply + 32), readUint32(reply + 36));
        times.t3 = sntp::ntpToUnixMicros(readUint32(reply + 40), readUint32(reply + 44));
        times.roundTrip = roundTrip;
        why = sntp::rejectTimes(times);
    }
    const int64_t t = why ? 0 : sntp::correctedTime(microsOf(sent), times.t2, times.t3, microsOf(received));
    if (!why && (t < sntp::earliestTrueTime() || t > sntp::latestTrueTime()))
        why = "time outside the years this program can be running in";
    if (why) {
        fprintf(stderr, "ERROR reading from socket: %s\n", why);
        return -1;
    }
    time->tv_sec = static_cast<time_t>(t / kMicros);
    time->tv_usec = static_cast<suseconds_t>(t % kMicros);
    return 0;
}
