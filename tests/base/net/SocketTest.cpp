// The socket wrappers on real kernel sockets, inside a network namespace of
// the test's own (loopback up).
#include "base/net/InetAddress.h"
#include "base/net/MulticastSocket.h"
#include "base/net/TcpSocket.h"
#include "base/net/UdpSocket.h"
#include "support/Emulator.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using testsupport::monotonicMs;

namespace {

int openDescriptors()
{
    return testsupport::entriesIn("/proc/self/fd");
}

bool closeOnExec(int fd)
{
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

// A listening TCP socket on loopback with a port the kernel chose.
uint16_t listenOnLoopback(TcpSocket& server)
{
    EXPECT_EQ(0, server.bind(InetAddress("127.0.0.1", 0), true));
    EXPECT_EQ(0, server.listen(4));
    InetAddress bound;
    EXPECT_EQ(0, server.getSockName(bound));
    return bound.port();
}

void onAlarm(int) {}

} // namespace

TEST(InetAddress, HoldsNetworkOrderAndParsesDottedText)
{
    const InetAddress any(8899);
    const unsigned char* port = reinterpret_cast<const unsigned char*>(&any.address().sin_port);
    EXPECT_EQ(0x22, port[0]);
    EXPECT_EQ(0xC3, port[1]);
    EXPECT_EQ(8899, any.port());
    EXPECT_EQ("0.0.0.0", any.toIp());
    EXPECT_EQ(AF_INET, any.address().sin_family);

    InetAddress address("192.168.4.20", 80);
    EXPECT_EQ("192.168.4.20", address.toIp());
    EXPECT_EQ(80, address.port());
    EXPECT_EQ(INADDR_NONE, address.setIp("not an address"));
    EXPECT_EQ("255.255.255.255", address.toIp());
    EXPECT_EQ(80, InetAddress(address.address()).port());
    EXPECT_EQ(0, InetAddress("10.0.0.1").port());
}

TEST(TcpSocket, EchoesAndSeesTheEndOfTheStream)
{
    RUN_IN_TEST_NAMESPACES([] {
        TcpSocket server;
        const uint16_t port = listenOnLoopback(server);
        TcpSocket client;
        ASSERT_EQ(0, client.create(false));
        ASSERT_EQ(0, client.connect(InetAddress("127.0.0.1", port)));
        int fd = -1;
        ASSERT_EQ(0, server.accept(fd));
        EXPECT_TRUE(closeOnExec(server.fd()));
        EXPECT_TRUE(closeOnExec(fd));
        EXPECT_TRUE(closeOnExec(client.fd()));

        std::thread echo([fd] {
            char buffer[64];
            ssize_t n;
            while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
                send(fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
            close(fd);
        });
        ASSERT_EQ(0, client.setRecvTimeout(5000));
        EXPECT_EQ(5000, client.getRecvTimeout());
        EXPECT_EQ(0, client.setSendTimeout(1500));
        // qemu-user 7.2 reads a 64-bit time value of the option back without its microseconds.
        if (!testsupport::underEmulator()) {
            EXPECT_EQ(1500, client.getSendTimeout());
        }
        EXPECT_EQ(1, client.waitWritable(1000));
        EXPECT_EQ(11, client.send("hello world", 11));
        char reply[12] = {};
        EXPECT_EQ(11, client.recv(reply, 11, true));
        EXPECT_STREQ("hello world", reply);
        InetAddress peer;
        EXPECT_EQ(0, client.getPeerName(peer));
        EXPECT_EQ(port, peer.port());

        shutdown(client.fd(), SHUT_WR);
        EXPECT_EQ(0, client.recv(reply, sizeof reply)); // the echo closed its side
        echo.join();
        client.close();
        EXPECT_EQ(-1, client.fd());
        server.close();
    });
}

// On loopback, outside the test namespaces: there the body is process 1,
// which the kernel spares the signal anyway.
TEST(TcpSocket, SendingToAClosedPeerFailsWithoutKillingTheProcess)
{
    // As a process that did not ignore SIGPIPE at start-up.
    signal(SIGPIPE, SIG_DFL);
    TcpSocket server;
    const uint16_t port = listenOnLoopback(server);
    TcpSocket client;
    ASSERT_EQ(0, client.create());
    ASSERT_EQ(0, client.connect(InetAddress("127.0.0.1", port)));
    int fd = -1;
    ASSERT_EQ(0, server.accept(fd));
    close(fd);

    int result = 0;
    for (int i = 0; i < 50 && result >= 0; ++i) {
        result = client.send("x", 1);
        usleep(10000);
    }
    EXPECT_EQ(-1, result);
    // The first failure may report the peer's reset; the next is the
    // broken pipe that would raise SIGPIPE.
    errno = 0;
    EXPECT_EQ(-1, client.send("x", 1));
    EXPECT_EQ(EPIPE, errno) << strerror(errno);
    client.close();
    server.close();
}

TEST(Socket, FailedBindsAndReopensLeaveNoDescriptorBehind)
{
    TcpSocket server;
    const uint16_t port = listenOnLoopback(server);
    const int before = openDescriptors();

    TcpSocket second;
    errno = 0;
    EXPECT_EQ(-1, second.bind(InetAddress("127.0.0.1", port), false));
    EXPECT_EQ(EADDRINUSE, errno);
    EXPECT_EQ(-1, second.fd());
    EXPECT_EQ(before, openDescriptors());

    UdpSocket udp;
    ASSERT_EQ(0, udp.create());
    ASSERT_EQ(0, udp.create());
    ASSERT_EQ(0, udp.bind(InetAddress("127.0.0.1", 0)));
    EXPECT_EQ(before + 1, openDescriptors());
    EXPECT_EQ(0, udp.close());
    EXPECT_EQ(-1, udp.close());

    MulticastSocket never;
    EXPECT_EQ(-1, never.close());
    TcpSocket neverTcp;
    neverTcp.close();
    EXPECT_EQ(before, openDescriptors());
    server.close();
}

TEST(Socket, WaitsWorkAboveDescriptor1023AndOutlastSignals)
{
    rlimit limit{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
    if (limit.rlim_cur < 1200) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1200);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<int> filler;
    while (static_cast<int>(filler.size()) < 1100) {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            GTEST_SKIP() << "cannot open enough descriptors: " << strerror(errno);
        filler.push_back(fd);
    }
    UdpSocket receiver;
    ASSERT_EQ(0, receiver.bind(InetAddress("127.0.0.1", 0)));
    ASSERT_GT(receiver.fd(), 1023);
    InetAddress bound;
    ASSERT_EQ(0, receiver.getSockName(bound));

    // A timer signal every 100 ms interrupts the wait, which goes on to its end.
    struct sigaction action{};
    action.sa_handler = onAlarm;
    sigaction(SIGALRM, &action, nullptr);
    itimerval every{{0, 100000}, {0, 100000}};
    setitimer(ITIMER_REAL, &every, nullptr);
    const long long start = monotonicMs();
    EXPECT_EQ(0, receiver.waitReadable(1500));
    EXPECT_GE(monotonicMs() - start, 1450);
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);

    UdpSocket sender;
    ASSERT_EQ(0, sender.create());
    EXPECT_EQ(0, sender.sendTo("0123456789012345678901", 22, bound)); // 0, not 22
    EXPECT_EQ(1, receiver.waitReadable(5000));
    char buffer[64];
    InetAddress from;
    EXPECT_EQ(22, receiver.recvFrom(buffer, sizeof buffer, from));
    EXPECT_EQ("127.0.0.1", from.toIp());

    // A connected sender needs no address; a socket that is gone is an error.
    ASSERT_EQ(0, sender.connect(bound));
    EXPECT_EQ(1, send(sender.fd(), "y", 1, 0));
    EXPECT_EQ(1, receiver.recvFrom(buffer, sizeof buffer, from));
    receiver.close();
    EXPECT_EQ(-1, receiver.waitReadable(10));
    sender.close();
    for (int fd : filler)
        close(fd);
}

TEST(MulticastSocket, ReceivesOnlyItsGroupAndPort)
{
    TALVIKS_SKIP_UNDER_EMULATOR("qemu-user 7.2 refuses the IP_MULTICAST_IF socket option");
    RUN_IN_TEST_NAMESPACES([] {
        ASSERT_EQ(0, testsupport::runInsideTestNamespaces(
                         "ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo"));
        MulticastSocket member;
        ASSERT_EQ(0, member.open("225.0.0.9", 19000, "127.0.0.1"));
        EXPECT_TRUE(closeOnExec(member.fd()));
        MulticastSocket other;
        ASSERT_EQ(0, other.open("225.0.0.10", 19000, "127.0.0.1"));

        UdpSocket sender;
        ASSERT_EQ(0, sender.create());
        in_addr loopback{};
        loopback.s_addr = inet_addr("127.0.0.1");
        ASSERT_EQ(0, setsockopt(sender.fd(), IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback));
        ASSERT_EQ(0, sender.sendTo("to the group", 12, InetAddress("225.0.0.9", 19000)));
        ASSERT_EQ(0, sender.sendTo("to one host", 11, InetAddress("127.0.0.1", 19000)));

        ASSERT_EQ(1, member.waitReadable(5000));
        char buffer[64] = {};
        InetAddress from;
        EXPECT_EQ(12, member.recvFrom(buffer, sizeof buffer, from));
        EXPECT_STREQ("to the group", buffer);
        EXPECT_EQ(0, member.waitReadable(200)); // the unicast datagram is not for it
        EXPECT_EQ(0, other.waitReadable(200));

        // Opening again replaces the socket; a group that is no address fails cleanly.
        const int before = testsupport::entriesIn("/proc/self/fd");
        ASSERT_EQ(0, member.open("225.0.0.9", 19000, "127.0.0.1"));
        EXPECT_EQ(before, testsupport::entriesIn("/proc/self/fd"));
        EXPECT_EQ(-1, other.open("10.0.0.1", 19000, "127.0.0.1"));
        EXPECT_EQ(-1, other.fd());
        EXPECT_EQ(before - 1, testsupport::entriesIn("/proc/self/fd"));
        EXPECT_EQ(0, member.close());
        sender.close();
    });
}
