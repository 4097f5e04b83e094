#include "driver/SimReport.h"

#include "base/RootPath.h"
#include "driver/SimOutput.h"
#include "driver/Timeline.h"
#include "engine/slicefile/PrintRecords.h"

#include <cstdio>
#include <string>

namespace {

int exitStatus(const char* code)
{
    if (!code)
        return 2; // aborted
    const std::string value = code;
    if (value == "0")
        return 0;
    if (value == PrinterError::Memory)
        return 5;
    if (value == PrinterError::Light)
        return 21;
    if (value == PrinterError::Motor)
        return 22;
    if (value == PrinterError::ImageTimeout)
        return 23;
    return 1;
}

// The most memory the process has held at once (its peak resident set), in kB; -1 when unknown.
long peakMemoryKb()
{
    FILE* status = fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    long kb = -1;
    char line[256];
    while (fgets(line, sizeof line, status))
        if (sscanf(line, "VmHWM: %ld kB", &kb) == 1)
            break;
    fclose(status);
    return kb;
}

} // namespace

int reportPrint(const SimOptions& options, const SimSession& session, PrintRecorder& recorder,
                const PrintOutcome& outcome)
{
    FILE* out = simOut();
    const std::string logPath = rootPath("/data/var/TalvikS.log");
    const std::string timelinePath = session.outDir + "/timeline.csv";
    const Timeline timeline = buildTimeline(recorder.exposures(), logPath);
    writeTimelineCsv(timeline, timelinePath);
    fprintf(out, "Result: %s\n", outcome.exit ? outcome.exit : "aborted (no result)");
    if (options.speed != 1.0)
        fprintf(out, "Times below are machine time; the machine clock ran %g times faster than real time.\n",
                options.speed);
    printTimelineSummary(timeline, outcome.exit == nullptr, out);
    if (outcome.abortAtNs >= 0) {
        const int64_t off = recorder.lightOffAfter(outcome.abortAtNs);
        if (off >= 0)
            fprintf(out, "Abort to light off: %.2f ms (machine time)\n", (off - outcome.abortAtNs) / 1e6);
    }
    if (options.signalEveryMs > 0)
        fprintf(out, "Timer signals during the print: %d\n", outcome.timerSignals);
    if (const long kb = peakMemoryKb(); kb >= 0)
        fprintf(out, "Peak memory: %.1f MB\n", kb / 1024.0);
    fprintf(out, "Frames: %s\nTimeline: %s\nLog: %s\nEngine traces: %s\n",
            options.frames ? session.outDir.c_str() : "(not written)", timelinePath.c_str(), logPath.c_str(),
            session.tracePath.c_str());
    fflush(out);
    return exitStatus(outcome.exit);
}
