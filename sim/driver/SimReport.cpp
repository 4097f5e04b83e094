#include "driver/SimReport.h"

#include "base/log/RootPath.h"
#include "driver/SimOutput.h"
#include "driver/Timeline.h"
#include "engine/print/PrintThread.h"
#include "engine/print/Printer.h"
#include "engine/records/PrintRecords.h"

#include <cstdio>
#include <cstring>
#include <fstream>
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

// The process's peak resident memory in kB (VmHWM); -1 when unknown.
long peakResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void printRealTime(const PrintThread& thread, size_t exposures, FILE* out)
{
    const int without = thread.exposuresWithoutRealTime();
    if (without == 0) {
        fprintf(out, "Exposure priority: real-time for every exposure\n");
        return;
    }
    fprintf(out,
            "Exposure priority: %d of %zu exposures WITHOUT real-time priority (%s): under load they may run "
            "late\n",
            without, exposures, strerror(thread.realTimeRefusal()));
}

void printFrames(const SimOptions& options, const SimSession& session, const FrameWriter* writer, FILE* out)
{
    if (!options.frames || !writer) {
        fprintf(out, "Frames: (not written)\n");
        return;
    }
    const FrameWriter::Counts counts = writer->counts();
    fprintf(out, "Frames: %zu written", counts.written);
    if (counts.failed)
        fprintf(out, ", %zu could not be written", counts.failed);
    if (counts.dropped)
        fprintf(out, ", %zu dropped: the writer fell behind (a lower --speed keeps them all)", counts.dropped);
    fprintf(out, ": %s\n", session.outDir.c_str());
}

} // namespace

int reportPrint(const SimOptions& options, const SimSession& session, PrintRecorder& recorder,
                const PrintOutcome& outcome)
{
    FILE* out = simOut();
    const std::string logPath = rootPath("/data/var/TalvikS.log");
    const std::string timelinePath = session.outDir + "/timeline.csv";
    const Timeline timeline = buildTimeline(recorder.layers());
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
    if (recorder.exposures() > 0)
        printRealTime(*session.printer->printThread(), recorder.exposures(), out);
    const long peakKb = peakResidentKb();
    if (peakKb >= 0)
        fprintf(out, "Peak memory: %.1f MB (resident)\n", peakKb / 1024.0);
    printFrames(options, session, recorder.frameWriter(), out);
    fprintf(out, "Timeline: %s\nLog: %s\nEngine traces: %s\n", timelinePath.c_str(), logPath.c_str(),
            session.tracePath.c_str());
    fflush(out);
    return exitStatus(outcome.exit);
}
