#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

// A real NTP server for time tests: chronyd serving its own clock on
// 127.0.0.1, always started with -x, so it never sets a clock, and with no
// command sockets (none in the host's /run either way). It starts
// only inside RUN_IN_TEST_NAMESPACES (its own network and pid namespaces);
// it is stopped when this object goes, and dies with the namespace anyway.
class TestChronyd
{
public:
    // Starts chronyd on the given UDP port and waits until it answers.
    // Stratum 0: a server that has no time source and answers unsynchronised.
    explicit TestChronyd(int port = 123, int stratum = 8);
    ~TestChronyd();
    TestChronyd(const TestChronyd&) = delete;
    TestChronyd& operator=(const TestChronyd&) = delete;

    // Whether it answers; when not, why() tells.
    bool serving() const { return m_serving; }
    const std::string& why() const { return m_why; }
    int port() const { return m_port; }

    // The command line it was started with (for the record: -x is always there).
    const std::string& commandLine() const { return m_commandLine; }

private:
    int m_port;
    pid_t m_pid = -1;
    bool m_serving = false;
    std::string m_why;
    std::string m_commandLine;
};

// Sends one client request to 127.0.0.1:port and waits up to timeoutMs for
// a server's answer; the answer's stratum, or -1 when none came.
int askNtpServer(int port, int timeoutMs);

} // namespace testsupport
