#pragma once

// Builds route-socket messages as the kernel lays them out, for the parser
// tests and the fuzz seeds.
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace netlinkbuilder {

inline void appendAttribute(std::string& message, uint16_t type, const void* payload, size_t size)
{
    rtattr attribute{};
    attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    attribute.rta_type = type;
    message.append(reinterpret_cast<const char*>(&attribute), sizeof attribute);
    message.append(static_cast<const char*>(payload), size);
    message.append(RTA_ALIGN(attribute.rta_len) - attribute.rta_len, '\0');
}

// One RTM_NEWLINK (or `type`) for an interface; master < 0: no IFLA_MASTER.
inline std::string newLink(int index, bool lowerUp, const std::string& name, long master = -1,
                           bool withMtu = false, uint16_t type = RTM_NEWLINK)
{
    std::string message(NLMSG_SPACE(sizeof(ifinfomsg)), '\0');
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    info.ifi_index = index;
    info.ifi_flags = IFF_UP | IFF_BROADCAST | (lowerUp ? IFF_LOWER_UP | IFF_RUNNING : 0);
    std::memcpy(&message[NLMSG_HDRLEN], &info, sizeof info);
    appendAttribute(message, IFLA_IFNAME, name.c_str(), name.size() + 1);
    if (withMtu) {
        const uint32_t mtu = 1500;
        appendAttribute(message, IFLA_MTU, &mtu, sizeof mtu);
    }
    if (master >= 0) {
        const uint32_t index32 = static_cast<uint32_t>(master);
        appendAttribute(message, IFLA_MASTER, &index32, sizeof index32);
    }
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(message.size());
    header.nlmsg_type = type;
    std::memcpy(&message[0], &header, sizeof header);
    return message;
}

} // namespace netlinkbuilder
