// The two parsers of kernel messages on what real traffic rarely shows:
// several messages in one read, lengths out of range, and a uevent whose
// variables would match where its header does not.
#include "services/LinkMessages.h"
#include "services/UeventHeader.h"
#include "support/NetlinkBuilder.h"

#include <gtest/gtest.h>

#include <cstring>

using netlinkbuilder::newLink;

namespace {

void setLength(std::string& bytes, size_t offset, uint32_t length)
{
    nlmsghdr header{};
    std::memcpy(&header, &bytes[offset], sizeof header);
    header.nlmsg_len = length;
    std::memcpy(&bytes[offset], &header, sizeof header);
}

} // namespace

TEST(LinkMessages, WalksEveryMessageOfARead)
{
    const std::string bytes = newLink(2, true, "eth0", 12, true) + newLink(9, false, "lo", -1, false, RTM_DELLINK) +
                              newLink(4, false, "wlan0");
    const auto events = parseLinkMessages(bytes.data(), bytes.size());
    ASSERT_EQ(events.size(), 2u); // an RTM_DELLINK is no link state
    EXPECT_EQ(events[0].index, 2u);
    EXPECT_TRUE(events[0].up);
    EXPECT_EQ(events[0].name, "eth0");
    EXPECT_EQ(events[0].master, 12u);
    EXPECT_EQ(events[1].name, "wlan0");
    EXPECT_FALSE(events[1].up);
    EXPECT_FALSE(events[1].master.has_value());
}

TEST(LinkMessages, BadLengthsEndTheWalkWithoutReadingPastTheData)
{
    const std::string good = newLink(2, true, "eth0");
    // The second message claims more than the read holds: only the first counts.
    std::string bytes = good + good;
    setLength(bytes, good.size(), static_cast<uint32_t>(good.size() + 1));
    EXPECT_EQ(parseLinkMessages(bytes.data(), bytes.size()).size(), 1u);
    // Too short for a header, a header shorter than itself, no room for the interface header.
    EXPECT_TRUE(parseLinkMessages(good.data(), 15).empty());
    std::string tiny = good;
    setLength(tiny, 0, 8);
    EXPECT_TRUE(parseLinkMessages(tiny.data(), tiny.size()).empty());
    setLength(tiny, 0, NLMSG_HDRLEN);
    EXPECT_TRUE(parseLinkMessages(tiny.data(), NLMSG_HDRLEN).empty());

    // An attribute running past its message ends the attributes, not the event.
    std::string badAttribute = good;
    const uint16_t tooLong = 4000;
    std::memcpy(&badAttribute[NLMSG_SPACE(sizeof(ifinfomsg))], &tooLong, sizeof tooLong);
    auto events = parseLinkMessages(badAttribute.data(), badAttribute.size());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].name.empty());

    // A name is never longer than an interface name can be.
    const std::string longName = newLink(2, true, std::string(40, 'x'));
    events = parseLinkMessages(longName.data(), longName.size());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, std::string(IFNAMSIZ - 1, 'x'));
}

TEST(LinkMessages, ADumpEndsAtItsDoneMessage)
{
    nlmsghdr done{};
    done.nlmsg_len = NLMSG_LENGTH(sizeof(int));
    done.nlmsg_type = NLMSG_DONE;
    std::string end(reinterpret_cast<const char*>(&done), sizeof done);
    end.append(sizeof(int), '\0');

    bool ended = true;
    std::string bytes = newLink(2, true, "eth0") + newLink(3, false, "wlan0");
    EXPECT_EQ(parseLinkMessages(bytes.data(), bytes.size(), &ended).size(), 2u);
    EXPECT_FALSE(ended);
    bytes += end;
    EXPECT_EQ(parseLinkMessages(bytes.data(), bytes.size(), &ended).size(), 2u);
    EXPECT_TRUE(ended);

    // What the dump tells is known, not news; a change after it is.
    CarrierStates states;
    for (const LinkEvent& event : parseLinkMessages(bytes.data(), bytes.size()))
        states.learn(event);
    const std::string same = newLink(2, true, "eth0");
    EXPECT_FALSE(states.changed(parseLinkMessages(same.data(), same.size())[0]));
    const std::string unplugged = newLink(2, false, "eth0");
    EXPECT_TRUE(states.changed(parseLinkMessages(unplugged.data(), unplugged.size())[0]));
}

TEST(UeventHeader, OnlyTheHeaderIsSearched)
{
    DiskEvent event;
    const char variables[] = "change@/devices/virtual/x\0DEVPATH=add@/x/block/sda/sda1";
    EXPECT_FALSE(parseUeventHeader(variables, sizeof variables - 1, event));
    // A header without a terminating zero ends with the data.
    const char text[] = "remove@/devices/usb/block/sdc/sdc13";
    ASSERT_TRUE(parseUeventHeader(text, sizeof text - 1, event));
    EXPECT_EQ(event.partition, "sdc13");
    EXPECT_EQ(event.action, DEV_ACTION_REMOVE);
    // A header no device path could be long enough for is ignored.
    const std::string huge = "add@/" + std::string(8000, 'a') + "/block/sda/sda1";
    EXPECT_FALSE(parseUeventHeader(huge.data(), huge.size(), event));
    EXPECT_FALSE(parseUeventHeader("", 0, event));
}
