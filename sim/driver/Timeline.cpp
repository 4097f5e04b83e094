#include "driver/Timeline.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

struct LayerWaits
{
    int settle = -1, exposure = -1, release = -1, breathe = -1;
};

// The waits of each layer from the print loop's lines, in layer order.
std::vector<LayerWaits> loggedWaits(const std::string& logPath)
{
    std::vector<LayerWaits> layers;
    std::ifstream in(logPath);
    const std::regex expose(R"(waitExpose \[(\d+)\], Layer\[(\d+)\])");
    const std::regex wait(R"((waitSettle|waitRelease|waitBreathe) \[(\d+)\])");
    LayerWaits current;
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, expose)) {
            current.exposure = std::stoi(m[1]);
        } else if (std::regex_search(line, m, wait)) {
            const int value = std::stoi(m[2]);
            if (m[1] == "waitSettle") {
                current = LayerWaits();
                current.settle = value;
            } else if (m[1] == "waitRelease") {
                current.release = value;
            } else {
                current.breathe = value;
                layers.push_back(current);
            }
        }
    }
    // A print that ended during a layer leaves it unfinished.
    if (current.exposure >= 0 && current.breathe < 0)
        layers.push_back(current);
    return layers;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

Timeline buildTimeline(const std::vector<PrintRecorder::Exposure>& exposures, const std::string& logPath)
{
    Timeline timeline;
    const std::vector<LayerWaits> waits = loggedWaits(logPath);
    const int64_t origin = exposures.empty() ? 0 : exposures.front().onNs;
    for (size_t i = 0; i < exposures.size(); ++i) {
        const PrintRecorder::Exposure& e = exposures[i];
        TimelineRow row;
        row.layer = static_cast<int>(i);
        row.plateMm = e.plateMm;
        row.onS = (e.onNs - origin) / 1e9;
        if (!e.isOpen()) {
            row.offS = (e.offNs - origin) / 1e9;
            row.actualMs = (e.offNs - e.onNs) / 1e6;
        }
        row.movingMs = e.movingNs / 1e6;
        if (i < waits.size()) {
            row.requestedMs = waits[i].exposure;
            row.settleMs = waits[i].settle;
            row.releaseMs = waits[i].release;
            row.breatheMs = waits[i].breathe;
        }
        row.frame = e.frame;
        timeline.rows.push_back(row);
    }
    return timeline;
}

bool writeTimelineCsv(const Timeline& timeline, const std::string& path)
{
    std::ofstream out(path, std::ios::trunc);
    out << "layer,z_mm,light_on_s,light_off_s,requested_ms,actual_ms,moving_ms,settle_ms,release_ms,breathe_ms,frame\n";
    for (const TimelineRow& r : timeline.rows) {
        char line[512];
        snprintf(line, sizeof line, "%d,%.4f,%.6f,%.6f,%d,%.3f,%.1f,%d,%d,%d,%s\n", r.layer, r.plateMm, r.onS, r.offS,
                 r.requestedMs, r.actualMs, r.movingMs, r.settleMs, r.releaseMs, r.breatheMs, r.frame.c_str());
        out << line;
    }
    return static_cast<bool>(out);
}

void printTimelineSummary(const Timeline& timeline, bool aborted, FILE* out)
{
    const auto& rows = timeline.rows;
    fprintf(out, "Layers exposed: %zu\n", rows.size());
    double worstOver = 0, leastOver = 1e18;
    int shorter = 0, counted = 0;
    const size_t full = aborted && !rows.empty() ? rows.size() - 1 : rows.size();
    for (size_t i = 0; i < full; ++i) {
        const TimelineRow& r = rows[i];
        if (r.actualMs < 0 || r.requestedMs < 0)
            continue;
        const double over = r.actualMs - r.requestedMs;
        worstOver = std::max(worstOver, over);
        leastOver = std::min(leastOver, over);
        shorter += over < 0;
        ++counted;
    }
    if (counted)
        fprintf(out, "Exposure, actual - requested: %.3f to %.3f ms over %d layers; %d shorter than requested\n",
                leastOver, worstOver, counted, shorter);
    // Layer i's time from its switch-on to the next one, less what was
    // asked for (exposure, release, breathe, the next settle) and the time
    // the axis was moving.
    std::vector<double> overheads;
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const TimelineRow& a = rows[i];
        const TimelineRow& b = rows[i + 1];
        if (a.requestedMs < 0 || a.releaseMs < 0 || a.breatheMs < 0 || b.settleMs < 0)
            continue;
        const double period = (b.onS - a.onS) * 1000;
        overheads.push_back(period - a.actualMs - a.releaseMs - a.breatheMs - b.settleMs - b.movingMs);
    }
    if (!overheads.empty()) {
        const auto [low, high] = std::minmax_element(overheads.begin(), overheads.end());
        fprintf(out, "Per-layer time beyond the waits and the motion: median %.1f ms, %.1f to %.1f ms\n",
                median(overheads), *low, *high);
    }
}
