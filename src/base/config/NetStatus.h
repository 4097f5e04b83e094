#pragma once

#include <QMetaType>

// The network state held by the system state, and the kind of network a
// connect job brings up: one numbering for both.
enum NetStatus {
    NET_DISCONNECTED = 0, // no network (status only)
    NET_ETH_DHCP = 1,     // Ethernet "eth0", address by DHCP
    NET_ETH_STATIC = 2,   // Ethernet "eth0", fixed address
    NET_WIFI = 3,         // Wi-Fi station on "wlan0"
    NET_HOTSPOT = 4,      // Wi-Fi access point on "wlan0"
};
typedef NetStatus NetType;

// The outcome of a connect job.
enum NetResult {
    NET_RESULT_OK = 0,      // every step succeeded
    NET_RESULT_ERROR = 1,   // a step failed and none ran out of time
    NET_RESULT_TIMEOUT = 2, // a step failed and a command did not start or finish in time
};

Q_DECLARE_METATYPE(NetStatus)
Q_DECLARE_METATYPE(NetResult)

// Registers the three enums under the names "NetResult", "NetType" and
// "NetStatus", so that queued signals carry them between threads. Safe to
// call more than once and from any thread.
void registerNetMetaTypes();
