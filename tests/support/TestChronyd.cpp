#include "support/TestChronyd.h"

#include "base/platform/Spawn.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace testsupport {

int askNtpServer(int port, int timeoutMs)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char packet[48] = {0x23}; // version 4, client
    int stratum = -1;
    if (sendto(fd, packet, sizeof packet, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&server), sizeof server) ==
        static_cast<ssize_t>(sizeof packet)) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) == 1 && recv(fd, packet, sizeof packet, 0) == static_cast<ssize_t>(sizeof packet) &&
            (packet[0] & 7) == 4)
            stratum = packet[1];
    }
    close(fd);
    return stratum;
}

TestChronyd::TestChronyd(int port, int stratum) : m_port(port)
{
    if (!insideTestNamespaces()) {
        m_why = "chronyd runs only inside the test namespaces";
        return;
    }
    const std::string dir = scratchRoot() + "/chronyd-" + std::to_string(port);
    makeDirs(dir);
    const std::string config = dir + "/chrony.conf";
    const std::string local = stratum > 0 ? "local stratum " + std::to_string(stratum) + "\n" : "";
    writeFile(config, local + "allow 127.0.0.1\nbindaddress 127.0.0.1\nport " +
                          std::to_string(port) + "\ncmdport 0\nbindcmdaddress /\npidfile " + dir + "/chronyd.pid\ndriftfile " + dir +
                          "/drift\n");
    SpawnSpec spec;
    // -x: never touch a clock; -d: stay in the foreground, where it can be stopped.
    spec.argv = {"chronyd", "-x", "-d", "-u", "root", "-l", dir + "/chronyd.log", "-f", config};
    spec.nullInput = true;
    for (const std::string& arg : spec.argv)
        m_commandLine += (m_commandLine.empty() ? "" : " ") + arg;
    m_pid = spawnProgram(spec);
    if (m_pid < 0) {
        m_why = std::string("cannot start chronyd: ") + strerror(errno);
        return;
    }
    m_serving = eventually([&] { return askNtpServer(port, 200) == stratum; }, 10000, 50000);
    if (!m_serving)
        m_why = "chronyd does not answer; see " + dir + "/chronyd.log";
}

TestChronyd::~TestChronyd()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

} // namespace testsupport
