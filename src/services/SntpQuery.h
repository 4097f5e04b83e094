#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>

// Asks one NTP server for the time over SNTP (UDP port 123) and returns the
// local time corrected by the exchange: 0 with `time` filled, or -1 with a
// message on standard error. Sets no clock. Stateless; any thread may call it.
//
// The reply is waited for at most kSntpReplyLimitMs, so one silent server
// never holds up the caller, and is accepted only when it is a whole server
// reply of a synchronised server that answers this very request, with times
// that fit the exchange and a date that can be true.
int sntpQuery(const char* host, timeval* time);

constexpr int kSntpReplyLimitMs = 3000;
constexpr size_t kSntpPacketSize = 48;

// sntpQuery with the port and the reply limit chosen (tests, the simulator).
int sntpQuery(const char* host, uint16_t port, int replyLimitMs, timeval* time);

namespace sntp {

// An NTP timestamp (seconds since 1900, fraction in 1/2^32) as microseconds
// since 1970. The seconds are taken modulo 2^32 as unsigned, so a server in
// the era after February 2036 still gives the right time.
int64_t ntpToUnixMicros(uint32_t seconds, uint32_t fraction);

// The local time at t4 corrected by the server's receive (t2) and transmit
// (t3) times of a request sent at t1; all microseconds since 1970.
int64_t correctedTime(int64_t t1, int64_t t2, int64_t t3, int64_t t4);

// Why a reply to `request` cannot be used, or nullptr when it can.
const char* rejectReply(const unsigned char* request, const unsigned char* reply, size_t replyLength);

// One exchange's times, microseconds: the server's receive (t2) and transmit
// (t3) times since 1970, and how long the exchange took here (real time).
struct ServerTimes
{
    bool received = false;    // the reply's receive timestamp is set
    bool transmitted = false; // its transmit timestamp is set
    int64_t t2 = 0;
    int64_t t3 = 0;
    int64_t roundTrip = 0;
};

// Why the server's times cannot be right, or nullptr: both timestamps set,
// the transmit time not before the receive time, and the server not holding
// the request longer than the whole exchange took.
const char* rejectTimes(const ServerTimes& times);

// The window of dates a time server may give, microseconds since 1970: not
// before the day this program was built, and not decades after it.
int64_t earliestTrueTime();
int64_t latestTrueTime();

} // namespace sntp
