// Both hot-plug parsers on the same bytes: a read from the route socket and a
// uevent header each come straight from outside the process.
#include "services/LinkMessages.h"
#include "services/UeventHeader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CarrierStates carrier;
    for (const LinkEvent& event : parseLinkMessages(data, size))
        carrier.changed(event);
    DiskEvent disk;
    parseUeventHeader(reinterpret_cast<const char*>(data), size, disk);
    return 0;
}
