// The two parsers of kernel messages: link messages of the route socket and
// uevent headers, on well-formed, truncated and foreign input.
#include "services/LinkMessages.h"
#include "services/UeventHeader.h"
#include "support/NetlinkBuilder.h"

#include <gtest/gtest.h>

#include <cstring>

using netlinkbuilder::newLink;

namespace {

template <size_t N>
bool parseHeader(const char (&text)[N], DiskEvent& event)
{
    return parseUeventHeader(text, N - 1, event);
}

// A message the size of the kernel's own (about 1.5 KiB): a long attribute
// ahead of the name, as statistics and maps come ahead of it.
std::string kernelSizedLink(int index, bool up, const std::string& name)
{
    std::string message = newLink(index, up, name);
    std::string stats(1400, '\x5a');
    std::string padded = message.substr(0, NLMSG_SPACE(sizeof(ifinfomsg)));
    netlinkbuilder::appendAttribute(padded, IFLA_STATS64, stats.data(), stats.size());
    padded += message.substr(NLMSG_SPACE(sizeof(ifinfomsg)));
    nlmsghdr header{};
    std::memcpy(&header, padded.data(), sizeof header);
    header.nlmsg_len = static_cast<uint32_t>(padded.size());
    std::memcpy(&padded[0], &header, sizeof header);
    return padded;
}

} // namespace

TEST(LinkMessages, NameAndMasterTravelSeparately)
{
    const std::string bytes = newLink(3, true, "eth0", 12, true);
    const auto events = parseLinkMessages(bytes.data(), bytes.size());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].index, 3u);
    EXPECT_TRUE(events[0].up);
    EXPECT_EQ(events[0].name, "eth0");
    ASSERT_TRUE(events[0].master.has_value());
    EXPECT_EQ(*events[0].master, 12u);

    const std::string alone = newLink(3, false, "eth0");
    const auto down = parseLinkMessages(alone.data(), alone.size());
    ASSERT_EQ(down.size(), 1u);
    EXPECT_FALSE(down[0].up);
    EXPECT_EQ(down[0].name, "eth0");
    EXPECT_FALSE(down[0].master.has_value());
}

TEST(LinkMessages, WalksEveryMessageOfARead)
{
    const std::string bytes = kernelSizedLink(2, true, "eth0") + newLink(9, false, "lo", -1, false, RTM_DELLINK) +
                              kernelSizedLink(4, false, "wlan0");
    ASSERT_GT(bytes.size(), 2900u);
    const auto events = parseLinkMessages(bytes.data(), bytes.size());
    ASSERT_EQ(events.size(), 2u); // the RTM_DELLINK is not a link state
    EXPECT_EQ(events[0].name, "eth0");
    EXPECT_TRUE(events[0].up);
    EXPECT_EQ(events[1].name, "wlan0");
    EXPECT_FALSE(events[1].up);
}

TEST(LinkMessages, BadLengthsEndTheWalkWithoutReadingPastTheData)
{
    const std::string good = newLink(2, true, "eth0");
    // The second message claims more than the read holds: only the first counts.
    std::string bytes = good + good;
    nlmsghdr header{};
    std::memcpy(&header, &bytes[good.size()], sizeof header);
    header.nlmsg_len = static_cast<uint32_t>(good.size() + 1);
    std::memcpy(&bytes[good.size()], &header, sizeof header);
    EXPECT_EQ(parseLinkMessages(bytes.data(), bytes.size()).size(), 1u);

    // Too short for a message header, and a header shorter than itself.
    EXPECT_TRUE(parseLinkMessages(good.data(), 15).empty());
    std::string tiny = good;
    header.nlmsg_len = 8;
    std::memcpy(&tiny[0], &header, sizeof header);
    EXPECT_TRUE(parseLinkMessages(tiny.data(), tiny.size()).empty());

    // An attribute running past its message ends the attributes, not the event.
    std::string badAttribute = good;
    rtattr attribute{};
    std::memcpy(&attribute, &badAttribute[NLMSG_SPACE(sizeof(ifinfomsg))], sizeof attribute);
    attribute.rta_len = 4000;
    std::memcpy(&badAttribute[NLMSG_SPACE(sizeof(ifinfomsg))], &attribute, sizeof attribute);
    const auto events = parseLinkMessages(badAttribute.data(), badAttribute.size());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].name.empty());

    // A message too short for the interface header carries no state.
    std::string headerOnly(NLMSG_HDRLEN, '\0');
    header.nlmsg_len = NLMSG_HDRLEN;
    header.nlmsg_type = RTM_NEWLINK;
    std::memcpy(&headerOnly[0], &header, sizeof header);
    EXPECT_TRUE(parseLinkMessages(headerOnly.data(), headerOnly.size()).empty());
}

TEST(LinkMessages, NameIsBoundedByTheAttributeAndTheInterfaceNameSize)
{
    std::string message(NLMSG_SPACE(sizeof(ifinfomsg)), '\0');
    const std::string unterminated(40, 'x');
    netlinkbuilder::appendAttribute(message, IFLA_IFNAME, unterminated.data(), unterminated.size());
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(message.size());
    header.nlmsg_type = RTM_NEWLINK;
    std::memcpy(&message[0], &header, sizeof header);
    const auto events = parseLinkMessages(message.data(), message.size());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, std::string(IFNAMSIZ - 1, 'x'));
}

TEST(LinkMessages, OnlyCarrierChangesCount)
{
    CarrierStates carrier;
    LinkEvent event;
    event.index = 2;
    event.up = false;
    EXPECT_FALSE(carrier.changed(event)); // unknown counts as down
    event.up = true;
    EXPECT_TRUE(carrier.changed(event));
    EXPECT_FALSE(carrier.changed(event));
    EXPECT_FALSE(carrier.changed(event));
    LinkEvent other = event;
    other.index = 3;
    EXPECT_TRUE(carrier.changed(other)); // each interface on its own
    event.up = false;
    EXPECT_TRUE(carrier.changed(event));
    EXPECT_FALSE(carrier.changed(event));
}

TEST(UeventHeader, PartitionsOfSdDisksOnly)
{
    DiskEvent event;
    ASSERT_TRUE(parseHeader("add@/devices/platform/ehci/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/sda1\0"
                            "ACTION=add\0DEVNAME=sda1\0",
                            event));
    EXPECT_EQ(event.action, DEV_ACTION_ADD);
    EXPECT_EQ(event.partition, "sda1");

    ASSERT_TRUE(parseHeader("remove@/devices/usb/block/sdb/sdb12\0ACTION=remove\0", event));
    EXPECT_EQ(event.action, DEV_ACTION_REMOVE);
    EXPECT_EQ(event.partition, "sdb12");

    EXPECT_FALSE(parseHeader("add@/devices/usb/host0/block/sda\0ACTION=add\0", event));          // whole disk
    EXPECT_FALSE(parseHeader("add@/devices/usb/block/sdaa/sdaa1\0ACTION=add\0", event));         // disk sdaa
    EXPECT_FALSE(parseHeader("add@/devices/mmc/block/mmcblk0/mmcblk0p1\0ACTION=add\0", event));  // SD card
    EXPECT_FALSE(parseHeader("change@/devices/usb/block/sda/sda1\0ACTION=change\0", event));     // other action
    EXPECT_FALSE(parseHeader("bind@/devices/usb/1-1\0", event));
    EXPECT_FALSE(parseHeader("", event));
}

TEST(UeventHeader, OnlyTheHeaderIsSearched)
{
    DiskEvent event;
    // The match may not come from the variables behind the header.
    EXPECT_FALSE(parseHeader("change@/devices/virtual/x\0DEVPATH=add@/x/block/sda/sda1\0", event));
    // A header without a terminating zero ends with the data.
    const char text[] = "add@/devices/usb/block/sdc/sdc3";
    ASSERT_TRUE(parseUeventHeader(text, sizeof text - 1, event));
    EXPECT_EQ(event.partition, "sdc3");
    // A header no device path could be long enough for is ignored.
    std::string huge = "add@/" + std::string(8000, 'a') + "/block/sda/sda1";
    EXPECT_FALSE(parseUeventHeader(huge.data(), huge.size(), event));
}
