#include "services/WifiScanner.h"

#include "base/platform/Platform.h"
#include "services/WifiScanParser.h"

#include "base/platform/Shell.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

WifiScanner::WifiScanner(const std::string& tool, const std::string& interface) : m_tool(tool), m_interface(interface)
{
    registerWifiMetaTypes();
}

int WifiScanner::scanWifi(std::list<wifi_ap_t>& list)
{
    list.clear();
    if (access(m_tool.c_str(), X_OK) != 0) {
        printf("%s cann't access\n", m_tool.c_str());
        return kToolNotExecutable;
    }

    // No shell in between: the interface name reaches the tool as one word.
    TimedRun run;
    run.argv = {m_tool, m_interface, "scan"};
    run.startLimitMs = kStartLimitMs;
    run.finishLimitMs = kFinishLimitMs;
    // The runner keeps at most RunResult::kOutputCap bytes of the output.
    const RunResult result = platform().shell().runTimed(run);
    if (!result.started) {
        printf("popen error: %s\n", result.why.c_str());
        return kToolNotStarted;
    }
    if (result.timedOut || result.cancelled) {
        printf("fread error: %s\n", result.timedOut ? "the tool did not finish in time" : "cancelled");
        return kOutputUnreadable;
    }
    // A tool that failed may still have printed part of a list; none of it is trusted.
    const bool failed = result.exitCode() != 0 || (!hasWifiCells(result.output) && !result.errors.empty());
    if (failed) {
        printf("scan failed (status %d): %s\n", result.status, result.errors.c_str());
        return kToolFailed;
    }
    list = parseWifiScan(result.output);
    return 0;
}
