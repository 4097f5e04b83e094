#include "driver/Timeline.h"

#include "driver/OutFiles.h"

#include <algorithm>

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

constexpr int64_t kNsPerMs = 1000000;

// Layer a's time beyond what was asked for, up to the switch-on of b, the layer after it.
std::optional<double> beyondWaits(const PrintRecorder::Layer& a, const PrintRecorder::Layer& b)
{
    if (b.layer != a.layer + 1 || a.pausedAfter || a.offNs < 0 || a.releaseMs < 0 || a.breatheMs < 0 ||
        b.settleMs < 0)
        return std::nullopt;
    const int64_t asked = (int64_t(a.releaseMs) + a.breatheMs + b.settleMs) * kNsPerMs;
    // The simulator's own frame capture held the print too.
    const int64_t beyond = (b.onNs - a.onNs) - (a.offNs - a.onNs) - asked - b.movingNs - a.captureNs;
    return static_cast<double>(beyond) / kNsPerMs;
}

} // namespace

Timeline buildTimeline(const std::vector<PrintRecorder::Layer>& layers)
{
    Timeline timeline;
    std::vector<const PrintRecorder::Layer*> exposed;
    for (const PrintRecorder::Layer& layer : layers)
        if (layer.exposed())
            exposed.push_back(&layer);
    const int64_t origin = exposed.empty() ? 0 : exposed.front()->onNs;
    for (size_t i = 0; i < exposed.size(); ++i) {
        const PrintRecorder::Layer& e = *exposed[i];
        TimelineRow row;
        row.layer = e.layer + 1;
        row.plateMm = e.plateMm;
        row.onS = static_cast<double>(e.onNs - origin) / 1e9;
        if (e.offNs >= 0) {
            row.offS = static_cast<double>(e.offNs - origin) / 1e9;
            row.actualMs = static_cast<double>(e.offNs - e.onNs) / 1e6;
        }
        row.movingMs = static_cast<double>(e.movingNs) / 1e6;
        row.requestedMs = e.exposureMs;
        row.settleMs = e.settleMs;
        row.releaseMs = e.releaseMs;
        row.breatheMs = e.breatheMs;
        row.frame = e.frame;
        row.pausedAfter = e.pausedAfter;
        if (i + 1 < exposed.size())
            row.beyondMs = beyondWaits(e, *exposed[i + 1]);
        timeline.rows.push_back(row);
    }
    return timeline;
}

int writeTimelineCsv(const Timeline& timeline, const std::string& path)
{
    std::string out = "layer,z_mm,light_on_s,light_off_s,requested_ms,actual_ms,moving_ms,settle_ms,release_ms,breathe_ms,frame\n";
    for (const TimelineRow& r : timeline.rows) {
        char line[512];
        snprintf(line, sizeof line, "%d,%.4f,%.6f,%.6f,%d,%.3f,%.1f,%d,%d,%d,%s\n", r.layer, r.plateMm, r.onS, r.offS,
                 r.requestedMs, r.actualMs, r.movingMs, r.settleMs, r.releaseMs, r.breatheMs, r.frame.c_str());
        out += line;
    }
    return writeWholeFile(path, out);
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
    std::vector<double> beyond;
    bool paused = false;
    for (const TimelineRow& r : rows) {
        if (r.beyondMs)
            beyond.push_back(*r.beyondMs);
        paused = paused || r.pausedAfter;
    }
    if (!beyond.empty()) {
        const auto [low, high] = std::minmax_element(beyond.begin(), beyond.end());
        fprintf(out, "Per-layer time beyond the waits and the motion: median %.1f ms, %.1f to %.1f ms%s\n",
                median(beyond), *low, *high, paused ? " (layers followed by a pause left out)" : "");
    }
}
