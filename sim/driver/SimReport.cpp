#include "driver/SimReport.h"

#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "driver/SimOutput.h"
#include "driver/SliceFileCheck.h"
#include "driver/Timeline.h"
#include "engine/print/PrintThread.h"
#include "engine/print/Printer.h"
#include "engine/records/PrintRecords.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A print that ended well, but whose frames, timeline, log or traces were
// not all written.
constexpr int kOutputLost = 3;

int exitStatus(const char* code)
{
    if (!code)
        return 2; // aborted
    const std::string value = code;
    if (value == PrinterError::PrintDone)
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

// What a print's result code means.
const char* resultMeaning(const std::string& code)
{
    if (code == PrinterError::Memory)
        return "out of memory";
    if (code == PrinterError::Light)
        return "UV light failure: the light did not switch as asked";
    if (code == PrinterError::Motor)
        return "Z motor failure: the axis did not move as asked";
    if (code == PrinterError::ImageTimeout)
        return "layer failure: a layer's parameters or image could not be made, or not in time";
    return "an unknown result";
}

// Why the print failed, with the layer it failed in (from 1).
std::string failureCause(const std::string& code, const PrintOutcome& outcome, PrintRecorder& recorder)
{
    const int layer = recorder.endLayer();
    if (layer < 0)
        return "before the first layer";
    char cause[160];
    if (code == PrinterError::ImageTimeout) {
        const PrinterConfig& machine = ConfigStore::instance()->m_printerConfig;
        const std::string fault = layerFault(outcome.boardFile, layer, int(machine.XRes), int(machine.YRes));
        if (!fault.empty())
            return fault;
        // What the projection said of the layer it could not show.
        if (!outcome.layerFailure.empty())
            return "layer " + std::to_string(layer + 1) + ": " + outcome.layerFailure;
        snprintf(cause, sizeof cause, "layer %d: its image was not made in time; the file's readers find no fault in it",
                 layer + 1);
    } else if (code == PrinterError::Motor && recorder.endedHoming()) {
        return "while the axis was homed, before layer 1";
    } else {
        snprintf(cause, sizeof cause, "while layer %d was made", layer + 1);
    }
    return cause;
}

void printResult(const PrintOutcome& outcome, PrintRecorder& recorder, FILE* out)
{
    if (!outcome.exit) {
        fprintf(out, "Result: aborted (no result)\n");
        return;
    }
    const std::string code = outcome.exit;
    if (code == PrinterError::PrintDone) {
        fprintf(out, "Result: 0\n");
        return;
    }
    fprintf(out, "Result: %s (%s)\nCause: %s\n", code.c_str(), resultMeaning(code),
            failureCause(code, outcome, recorder).c_str());
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

// What could not be written whole, for the last line.
struct Lost
{
    std::vector<std::string> what;
    int error = 0; // the first cause known
    void add(const std::string& name, int cause)
    {
        what.push_back(name);
        if (!error)
            error = cause;
    }
};

void printFrames(const SimOptions& options, const SimSession& session, const FrameWriter* writer, Lost& lost,
                 FILE* out)
{
    if (!options.frames || !writer) {
        fprintf(out, "Frames: (not written)\n");
        return;
    }
    const FrameWriter::Counts counts = writer->counts();
    fprintf(out, "Frames: %zu written", counts.written);
    if (counts.failed) {
        fprintf(out, ", %zu could not be written (%s)", counts.failed, strerror(counts.firstError));
        lost.add(std::to_string(counts.failed) + (counts.failed == 1 ? " frame" : " frames"), counts.firstError);
    }
    if (counts.dropped)
        fprintf(out, ", %zu dropped: the writer fell behind (a lower --speed keeps them all)", counts.dropped);
    fprintf(out, ": %s\n", session.outDir.c_str());
}

} // namespace

int reportPrint(const SimOptions& options, const SimSession& session, PrintRecorder& recorder,
                const PrintOutcome& outcome)
{
    FILE* out = simOut();
    Lost lost;
    const std::string logPath = rootPath("/data/var/TalvikS.log");
    const std::string timelinePath = session.outDir + "/timeline.csv";
    const Timeline timeline = buildTimeline(recorder.layers());
    const int timelineError = writeTimelineCsv(timeline, timelinePath);
    printResult(outcome, recorder, out);
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
    printFrames(options, session, recorder.frameWriter(), lost, out);
    if (timelineError) {
        fprintf(out, "Timeline: not written (%s): %s\n", strerror(timelineError), timelinePath.c_str());
        lost.add("the timeline", timelineError);
    } else {
        fprintf(out, "Timeline: %s\n", timelinePath.c_str());
    }
    // A line that cannot be added now tells of a log that lost lines.
    if (logger()->write(LogInfo, "talviks-sim: the print is reported") != 1) {
        fprintf(out, "Log: %s (incomplete: lines could not be written)\n", logPath.c_str());
        lost.add("the log", 0);
    } else {
        fprintf(out, "Log: %s\n", logPath.c_str());
    }
    // The engine's traces are the diverted standard output.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(out, "Engine traces: %s (incomplete: lines could not be written)\n", session.tracePath.c_str());
        lost.add("the engine traces", 0);
    } else {
        fprintf(out, "Engine traces: %s\n", session.tracePath.c_str());
    }
    fflush(out);
    if (lost.what.empty())
        return exitStatus(outcome.exit);
    std::string what;
    for (size_t i = 0; i < lost.what.size(); ++i)
        what += (i == 0 ? "" : i + 1 == lost.what.size() ? " and " : ", ") + lost.what[i];
    fprintf(stderr, "talviks-sim: not written whole: %s%s%s%s\n", what.c_str(), lost.error ? " (" : "",
            lost.error ? strerror(lost.error) : "", lost.error ? ")" : "");
    const int status = exitStatus(outcome.exit);
    return status == 0 ? kOutputLost : status;
}
