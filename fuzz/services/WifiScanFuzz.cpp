// The scan parser on any text: the scan tool prints names that come from
// whatever radios are in reach.
#include "services/WifiScanParser.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string output(reinterpret_cast<const char*>(data), size);
    hasWifiCells(output);
    float previous = 1e30f;
    for (const wifi_ap_t& ap : parseWifiScan(output)) {
        if (ap.essid.empty() || ap.signal > previous ||
            (ap.security != "open" && ap.security != "wep" && ap.security != "wpa"))
            __builtin_trap();
        previous = ap.signal;
    }
    return 0;
}
