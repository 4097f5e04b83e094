#pragma once

#include "driver/PrintRecorder.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// One exposed layer as the simulator saw it.
struct TimelineRow
{
    int layer = 0;              // from 1
    double plateMm = 0;
    double onS = 0, offS = -1;  // machine seconds since the first switch-on
    int requestedMs = -1;       // as the print loop asked
    double actualMs = -1;
    double movingMs = 0;        // axis in motion since the previous exposure
    int settleMs = -1, releaseMs = -1, breatheMs = -1;
    std::string frame;
    // The time from this switch-on to the next less the waits asked for in
    // between (exposure as made, release, breathe, the next settle), the
    // motion and the simulator's frame capture; none for the last layer, a layer a pause followed, or one
    // whose waits are not all known.
    std::optional<double> beyondMs;
    bool pausedAfter = false;
};

struct Timeline
{
    std::vector<TimelineRow> rows;
};

Timeline buildTimeline(const std::vector<PrintRecorder::Layer>& layers);
// The timeline as CSV, written whole (OutFiles.h): 0, or the errno value of
// the failure. A value a layer never reached (a layer cut short) is -1.
int writeTimelineCsv(const Timeline& timeline, const std::string& path);
// Exposure accuracy and the time per layer beyond the configured waits and
// the motion. After an abort the last exposure, cut short by it, is left out.
void printTimelineSummary(const Timeline& timeline, bool aborted, FILE* out);
