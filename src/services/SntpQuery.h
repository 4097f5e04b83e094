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
// reply of a synchronised server that answers this very request.
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

} // namespace sntp
