#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// One interface's state from an RTM_NEWLINK message of the route socket.
struct LinkEvent
{
    uint32_t index = 0;
    bool up = false;                // IFF_LOWER_UP: carrier present
    std::string name;               // IFLA_IFNAME; empty when the message has none
    std::optional<uint32_t> master; // IFLA_MASTER: the bridge or bond it is enslaved to
};

// Every RTM_NEWLINK of one read from a route socket, in order. Lengths out of
// range end the walk; messages of other types are skipped. `dumpEnded`, when
// given, tells whether the read held the end of a dump (NLMSG_DONE) or an error.
std::vector<LinkEvent> parseLinkMessages(const void* data, size_t size, bool* dumpEnded = nullptr);

// The request for every link's state (RTM_GETLINK dump).
std::string linkDumpRequest();

// The kernel sends several RTM_NEWLINK for one plug (flags, operational
// state, statistics); this remembers each interface's carrier and name so
// that only a change is announced. An interface not seen yet counts as down:
// the states of the links present at the start are learnt from a dump.
class CarrierStates
{
public:
    // True when `event` changes what was known of its interface.
    bool changed(const LinkEvent& event);
    // Takes the interface's state as known, announcing nothing.
    void learn(const LinkEvent& event);
    // Forgets the interfaces absent from `present` (a complete dump of the
    // links): those that were up come back as down events, under the last
    // name they were known by.
    std::vector<LinkEvent> forgetAbsent(const std::vector<LinkEvent>& present);

private:
    struct Known
    {
        bool up = false;
        std::string name;
    };

    std::unordered_map<uint32_t, Known> m_known;
};
