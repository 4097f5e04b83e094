#pragma once

#include "driver/PrintRecorder.h"

#include <cstdio>
#include <string>
#include <vector>

// One exposed layer as the simulator saw it.
struct TimelineRow
{
    int layer = -1;
    double plateMm = 0;
    double onS = 0, offS = -1;  // machine seconds since the first switch-on
    int requestedMs = -1;       // from the print loop's log
    double actualMs = -1;
    double movingMs = 0;        // axis in motion since the previous exposure
    int settleMs = -1, releaseMs = -1, breatheMs = -1;
    std::string frame;
};

struct Timeline
{
    std::vector<TimelineRow> rows;
};

// Joins the recorded exposures with the waits the print loop logged.
Timeline buildTimeline(const std::vector<PrintRecorder::Exposure>& exposures, const std::string& logPath);
bool writeTimelineCsv(const Timeline& timeline, const std::string& path);
// Exposure accuracy and the time per layer beyond the configured waits and
// the motion. After an abort the last exposure, cut short by it, is left out.
void printTimelineSummary(const Timeline& timeline, bool aborted, FILE* out);
