// Network service commands go through the shell seam in their order;
// interface addresses are read from real interfaces in a namespace of the
// test's own.
#include "base/net/NetUtils.h"
#include "support/RecordingShell.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::RecordingShell;

namespace {

void ip(const std::string& arguments)
{
    ASSERT_EQ(0, testsupport::runInsideTestNamespaces("ip " + arguments)) << "ip " << arguments;
}

} // namespace

TEST(UtilsNetwork, ServiceCommandsRunInOrderWhateverTheirStatus)
{
    RecordingShell shell;
    shell.script("", RecordingShell::exitStatus(1)); // every command fails

    EXPECT_EQ(0, Utils::disableWiFi());
    EXPECT_EQ(0, Utils::disableWiFiAP());
    EXPECT_EQ(0, Utils::disableEth());
    Utils::restartEth();

    const std::vector<std::string> expected{
        "killall wpa_supplicant",
        "ps |grep 'wlan0'|grep -v 'grep'|awk '{print $1}'|xargs kill -9",
        "ip addr flush dev wlan0",
        "killall udhcpd ",
        "killall hostapd",
        "ip addr flush dev wlan0",
        "ps |grep 'eth0'|grep -v 'grep'|awk '{print $1}'|xargs kill -9",
        "ip addr flush dev eth0",
        "ifconfig eth0 down",
        "ifconfig eth0 up",
    };
    EXPECT_EQ(expected, shell.commands());
}

TEST(UtilsNetwork, AddressOfAnInterfaceThatIsUpAndHasIPv4First)
{
    RUN_IN_TEST_NAMESPACES([] {
        EXPECT_EQ("127.0.0.1", Utils::getIP("lo"));
        EXPECT_EQ("", Utils::getEthIP()); // no eth0 yet
        EXPECT_EQ("", Utils::getWlanIP());

        ip("link add eth0 type veth peer name peer0");
        ip("addr add 10.11.12.13/24 dev eth0");
        EXPECT_EQ("", Utils::getEthIP()); // down
        ip("link set peer0 up");
        ip("link set eth0 up"); // up and running: its peer is up too
        // The kernel marks the link running a moment after "up".
        EXPECT_TRUE(testsupport::eventually([] { return Utils::getEthIP() == "10.11.12.13"; }, 5000))
            << Utils::getEthIP().toStdString();
        EXPECT_EQ("10.11.12.13", Utils::getIP("eth0"));

        // An interface whose first address is IPv6 has no address here.
        ip("link add wlan0 type veth peer name peer1");
        ip("-6 addr add fd00::5/64 dev wlan0 nodad");
        ip("link set peer1 up");
        ip("link set wlan0 up");
        EXPECT_EQ("", Utils::getWlanIP());

        ip("link set eth0 down");
        EXPECT_EQ("", Utils::getEthIP());
    });
}

TEST(UtilsNetwork, AnIPv6AddressThatEmbedsAnIPv4OneIsNone)
{
    RUN_IN_TEST_NAMESPACES([] {
        // Its text holds three dots, like a dotted IPv4 address.
        ip("link add eth0 type veth peer name peer0");
        ip("-6 addr add ::ffff:10.9.8.7/128 dev eth0 nodad");
        ip("link set peer0 up");
        ip("link set eth0 up");
        ASSERT_TRUE(testsupport::waitForCarrier("eth0"));
        EXPECT_EQ("", Utils::getEthIP());
    });
}
