#pragma once

#include "driver/PrintRecorder.h"
#include "engine/records/PrintRecords.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class Printer;

// The print's progress on the simulator's output, layers counted from 1: a
// line a layer, shown as its exposure begins, with the plate's height then
// (the timeline's z_mm), or "homing" until the first exposure, the elapsed
// and the remaining time ("~" while it is the settings' estimate, before a
// layer was measured); on a terminal one line, refreshed twice a second.
// And a line of its own for each event: a pause, a resume, an abort, and
// the remaining time's change from the settings to the measured layer time.
// `quiet` hides all that, but not the warnings.
//
// The lines come from the recorder's layers, not from the moment of a look:
// layers exposed while the caller was held back are shown when it looks
// again, and those of the print's end by finish(), each with its own height
// and its times at its exposure.
class Progress
{
public:
    // `start`: the print's progress as it began.
    Progress(FILE* out, bool quiet, const PrintInfo& start);
    void update(Printer& printer, PrintRecorder& recorder);
    // After the print: the lines not shown yet, and the end of a refreshed line.
    void finish(PrintRecorder& recorder);
    void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A warning on stderr, also when quiet.
    void warn(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends a refreshed line.
    void end();

private:
    // The lines of the layers exposed since the last shown; "homing" before any.
    void showNew(const std::vector<PrintRecorder::Layer>& layers);
    // One line: of `layer`, or of the homing when null.
    void showLine(const PrintRecorder::Layer* layer);
    void endLine();

    FILE* const m_out;
    const bool m_quiet;
    const bool m_tty;
    std::chrono::steady_clock::time_point m_last;
    // The print's progress at the last look, and the machine time of it.
    PrintInfo m_info;
    int64_t m_infoNs;
    int m_shownLayer = -2;   // the exposed layer of the last line (-1: homing)
    bool m_lineOpen = false; // a refreshed line is on the terminal
    // The remaining time last shown while it was still the settings' estimate.
    float m_remaining = -1;
    bool m_measured = false;
};

// "hh:mm:ss" of machine seconds.
std::string clockText(double seconds);
