#include "services/LinkMessages.h"

#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <unordered_set>

namespace {

// The header at `offset` of a buffer whose messages need not be aligned.
template <typename Header>
Header headerAt(const uint8_t* data, size_t offset)
{
    Header header;
    std::memcpy(&header, data + offset, sizeof header);
    return header;
}

// Reads the attributes of one RTM_NEWLINK, from `begin` to `end`.
void readAttributes(const uint8_t* data, size_t begin, size_t end, LinkEvent& event)
{
    size_t offset = begin;
    while (end - offset >= sizeof(rtattr)) {
        const rtattr attribute = headerAt<rtattr>(data, offset);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > end - offset)
            return;
        const uint8_t* payload = data + offset + RTA_LENGTH(0);
        const size_t payloadSize = attribute.rta_len - RTA_LENGTH(0);
        switch (attribute.rta_type & NLA_TYPE_MASK) {
        case IFLA_IFNAME: {
            // NUL-terminated by the kernel; never longer than an interface name may be.
            const size_t limit = payloadSize < IFNAMSIZ - 1 ? payloadSize : IFNAMSIZ - 1;
            const void* zero = std::memchr(payload, 0, limit);
            const size_t length = zero ? static_cast<const uint8_t*>(zero) - payload : limit;
            event.name.assign(reinterpret_cast<const char*>(payload), length);
            break;
        }
        case IFLA_MASTER:
            if (payloadSize == sizeof(uint32_t)) {
                uint32_t master;
                std::memcpy(&master, payload, sizeof master);
                event.master = master;
            }
            break;
        default:
            break;
        }
        const size_t step = RTA_ALIGN(attribute.rta_len);
        if (step >= end - offset)
            return;
        offset += step;
    }
}

} // namespace

std::vector<LinkEvent> parseLinkMessages(const void* buffer, size_t size, bool* dumpEnded)
{
    if (dumpEnded)
        *dumpEnded = false;
    const auto* data = static_cast<const uint8_t*>(buffer);
    std::vector<LinkEvent> events;
    size_t offset = 0;
    while (size - offset >= sizeof(nlmsghdr)) {
        const nlmsghdr message = headerAt<nlmsghdr>(data, offset);
        if (message.nlmsg_len < sizeof(nlmsghdr) || message.nlmsg_len > size - offset)
            break;
        if ((message.nlmsg_type == NLMSG_DONE || message.nlmsg_type == NLMSG_ERROR) && dumpEnded)
            *dumpEnded = true;
        if (message.nlmsg_type == RTM_NEWLINK && message.nlmsg_len >= NLMSG_LENGTH(sizeof(ifinfomsg))) {
            const ifinfomsg info = headerAt<ifinfomsg>(data, offset + NLMSG_HDRLEN);
            LinkEvent event;
            event.index = static_cast<uint32_t>(info.ifi_index);
            event.up = (info.ifi_flags & IFF_LOWER_UP) != 0;
            const size_t attributes = offset + NLMSG_SPACE(sizeof(ifinfomsg));
            const size_t end = offset + message.nlmsg_len;
            if (attributes < end)
                readAttributes(data, attributes, end, event);
            events.push_back(std::move(event));
        }
        const size_t step = NLMSG_ALIGN(message.nlmsg_len);
        if (step >= size - offset)
            break;
        offset += step;
    }
    return events;
}

std::string linkDumpRequest()
{
    struct
    {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = AF_UNSPEC;
    return std::string(reinterpret_cast<const char*>(&request), sizeof request);
}

void CarrierStates::learn(const LinkEvent& event)
{
    Known& known = m_known[event.index];
    known.up = event.up;
    if (!event.name.empty())
        known.name = event.name;
}

bool CarrierStates::changed(const LinkEvent& event)
{
    auto known = m_known.find(event.index);
    const bool wasUp = known != m_known.end() && known->second.up;
    learn(event);
    return wasUp != event.up;
}

std::vector<LinkEvent> CarrierStates::forgetAbsent(const std::vector<LinkEvent>& present)
{
    std::unordered_set<uint32_t> indexes;
    for (const LinkEvent& link : present)
        indexes.insert(link.index);
    std::vector<LinkEvent> gone;
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (indexes.count(it->first)) {
            ++it;
            continue;
        }
        if (it->second.up) {
            LinkEvent down;
            down.index = it->first;
            down.name = it->second.name;
            gone.push_back(std::move(down));
        }
        it = m_known.erase(it);
    }
    return gone;
}
