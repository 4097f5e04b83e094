#pragma once

#include "services/WifiAp.h"

#include <list>
#include <string>

// Runs the wireless scan tool of the system image on one interface and lists
// the access points it reports, strongest first. Traces go to standard
// output, not to the log.
class WifiScanner
{
public:
    // Results of scanWifi besides 0.
    enum {
        kToolNotExecutable = -1,
        kToolNotStarted = -2,
        kOutputUnreadable = -3, // includes a tool that hung and was stopped
        kToolFailed = -4,       // ran but failed: not the same as "no networks"
    };

    // Limits for the tool (a scan takes a few seconds on a real radio).
    static constexpr int kStartLimitMs = 10000;
    static constexpr int kFinishLimitMs = 30000;

    WifiScanner(const std::string& tool, const std::string& interface);

    // Empties `list` and fills it; 0 or one of the results above (the list
    // then stays empty).
    int scanWifi(std::list<wifi_ap_t>& list);

private:
    std::string m_tool;
    std::string m_interface;
};
