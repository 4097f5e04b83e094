// The Ethernet job against a real DHCP server: busybox udhcpd on one end of
// a veth pair in the test's own network namespace, the job's "udhcpc -i
// eth0" on the other end (named eth0 there only). The host's interfaces and
// routes are compared before and after.
#include "WorkThreadFixture.h"

#include "base/platform/Shell.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"


#include <cstdio>

using testsupport::readFile;
using testsupport::runInsideTestNamespaces;
using testsupport::scratchRoot;
using testsupport::writeFile;
using testsupport::writeScript;

namespace {

// Read only: the links and IPv4 routes of the network namespace this runs in.
std::string networkSnapshot()
{
    std::string text;
    if (FILE* pipe = popen("ip -o link show; ip -4 route show table all", "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

} // namespace

TEST_F(WorkThreadInNamespaces, EthernetLeaseFromARealDhcpServer)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string root = scratchRoot();
    const std::string hostBefore = networkSnapshot();
    ASSERT_NE("", hostBefore);

    // The client's event script configures only the interface it was given
    // (in the namespace) and notes the lease; the system's script would
    // also rewrite the resolver file the host shares.
    writeScript(root + "/udhcpc.script", "#!/bin/sh\n"
                                         "case \"$1\" in bound|renew)\n"
                                         "  busybox ifconfig \"$interface\" \"$ip\" netmask \"$subnet\" &&\n"
                                         "  echo \"$1 $interface $ip\" >> " + shellQuote(root + "/lease") + " ;;\n"
                                         "esac\n"
                                         "exit 0\n");
    writeScript(stubDir() + "/udhcpc", "#!/bin/sh\n"
                                       "echo \"udhcpc $*\" >> " + shellQuote(stubDir() + "/calls") + "\n"
                                       "exec busybox udhcpc \"$@\" -s " + shellQuote(root + "/udhcpc.script") + "\n");
    setDefaultMode("ifconfig", "real");
    writeFile(root + "/udhcpd.conf", "start 10.77.0.100\nend 10.77.0.110\ninterface veth1\n"
                                     "lease_file " + root + "/udhcpd.leases\npidfile " + root + "/udhcpd.pid\n"
                                     "option subnet 255.255.255.0\n");
    writeFile(root + "/udhcpd.leases", "");

    const auto body = [&] {
        SKIP_WITHOUT_SANDBOX();
        openLog();
        ASSERT_EQ(0, runInsideTestNamespaces("ip link add eth0 type veth peer name veth1 && "
                                             "ip addr add 10.77.0.1/24 dev veth1 && ip link set veth1 up"));
        ASSERT_EQ(0, runInsideTestNamespaces("busybox udhcpd " + shellQuote(root + "/udhcpd.conf")));

        WorkThread worker;
        worker.setCommandLimits(10000, 30000);
        JobSignals emitted(worker);
        worker.setNetType(NET_ETH_DHCP);
        runJob(worker, WorkThread::JOB_ETHERNET);
        EXPECT_EQ((std::vector<std::pair<NetResult, NetType>>{{NET_RESULT_OK, NET_ETH_DHCP}}), emitted.connects.all());
        EXPECT_EQ((std::vector<std::string>{"ifconfig eth0 up", "udhcpc -i eth0"}), calls());

        const std::string lease = readFile(root + "/lease");
        EXPECT_EQ(0u, lease.find("bound eth0 10.77.0.1")) << lease;
        std::string address;
        runInsideTestNamespaces("ip -4 -o addr show dev eth0", &address);
        EXPECT_NE(std::string::npos, address.find("inet 10.77.0.1")) << address;
    };
    RUN_IN_TEST_NAMESPACES(body);

    EXPECT_EQ(hostBefore, networkSnapshot()) << "the host's network changed";
}
