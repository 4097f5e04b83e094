#include "services/WifiAp.h"

#include <mutex>

void registerWifiMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<wifi_ap_t>("wifi_ap_t");
        qRegisterMetaType<std::list<wifi_ap_t>>("std::list<wifi_ap_t>");
    });
}
