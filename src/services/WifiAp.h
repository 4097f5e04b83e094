#pragma once

#include <QMetaType>

#include <list>
#include <string>

// One access point seen by a Wi-Fi scan; a plain record copied by value.
struct wifi_ap_t
{
    std::string essid;    // network name, escapes of the scan tool decoded to their bytes
    float signal = 0.0f;  // level as the tool prints it (dBm for most drivers); -130 when none
    std::string auth;     // the authentication suites text; "None" when the cell has none
    bool encrypted = false;
    std::string security; // "open", "wep" or "wpa": picks the station configuration
};

Q_DECLARE_METATYPE(wifi_ap_t)
Q_DECLARE_METATYPE(std::list<wifi_ap_t>)

// Registers "wifi_ap_t" and "std::list<wifi_ap_t>" for queued signals. Safe
// to call more than once and from any thread.
void registerWifiMetaTypes();
