#include "driver/Progress.h"

#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "engine/print/Printer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>

namespace {

int64_t machineNs()
{
    return timespecToNs(platform().clock().now());
}

} // namespace

std::string clockText(double seconds)
{
    const long s = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[32];
    snprintf(text, sizeof text, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

Progress::Progress(FILE* out, bool quiet, const PrintInfo& start)
    : m_out(out), m_quiet(quiet), m_tty(isatty(fileno(out))),
      m_last(std::chrono::steady_clock::now() - std::chrono::seconds(1)), m_info(start), m_infoNs(machineNs())
{
}

void Progress::update(Printer& printer, PrintRecorder& recorder)
{
    // Only a print that runs or is paused: once it ends its progress is reset.
    if (m_quiet || !printer.isPrinting())
        return;
    // On a terminal the line is refreshed twice a second; elsewhere a line a layer.
    const auto now = std::chrono::steady_clock::now();
    if (m_tty && now - m_last < std::chrono::milliseconds(500))
        return;
    int latest = -1;
    double plateMm = 0;
    recorder.lastExposure(latest, plateMm);
    if (!m_tty && latest == m_shownLayer)
        return;
    const std::vector<PrintRecorder::Layer> layers = recorder.layers();
    auto exposed = std::find_if(layers.rbegin(), layers.rend(), [](const auto& l) { return l.exposed(); });
    m_info = printer.getPrintInfo();
    m_infoNs = machineNs();
    m_last = now;
    if (m_tty)
        showLine(exposed == layers.rend() ? nullptr : &*exposed);
    else
        showNew(layers);
}

void Progress::finish(PrintRecorder& recorder)
{
    if (!m_quiet && !m_tty)
        showNew(recorder.layers());
    end();
}

void Progress::showNew(const std::vector<PrintRecorder::Layer>& layers)
{
    bool any = false;
    for (const PrintRecorder::Layer& layer : layers)
        if (layer.exposed()) {
            any = true;
            if (layer.layer > m_shownLayer)
                showLine(&layer);
        }
    if (!any && m_shownLayer < -1)
        showLine(nullptr);
}

void Progress::showLine(const PrintRecorder::Layer* layer)
{
    // The times at the layer's exposure: the last look's, less what passed
    // since (or plus what passed until, for a layer exposed after it).
    const double since = layer ? static_cast<double>(m_infoNs - layer->onNs) / 1e9 : 0;
    const double elapsed = std::max(0.0, static_cast<double>(m_info.elapsedTime) - since);
    double remaining = std::max(0.0, static_cast<double>(m_info.remainingTime) + since);
    // Once measured, the estimate is the measured time of a layer times the layers left.
    if (layer && layer->measuredS >= 0)
        remaining = static_cast<double>(layer->measuredS) * std::max(0, m_info.layerCount - layer->layer);
    if (layer && layer->measuredS >= 0 && !m_measured) {
        m_measured = true;
        note("Remaining time from here on: the measured time of a layer (%.1f s) times the layers left, %s "
             "(it was %s from the settings)",
             static_cast<double>(layer->measuredS), clockText(remaining).c_str(), clockText(m_remaining).c_str());
    } else if (!m_measured) {
        m_remaining = static_cast<float>(remaining);
    }
    m_shownLayer = layer ? layer->layer : -1;

    char where[32];
    if (!layer)
        snprintf(where, sizeof where, "homing     ");
    else
        snprintf(where, sizeof where, "Z %7.3f mm", layer->plateMm);
    char line[160];
    snprintf(line, sizeof line, "layer %d/%d  %s  elapsed %s  remaining %s%s", layer ? layer->layer + 1 : 1,
             m_info.layerCount, where, clockText(elapsed).c_str(), m_measured ? "" : "~",
             clockText(remaining).c_str());
    if (m_tty) {
        fprintf(m_out, "\r%s   ", line);
        m_lineOpen = true;
    } else {
        fprintf(m_out, "%s\n", line);
    }
    fflush(m_out);
}

void Progress::note(const char* format, ...)
{
    if (m_quiet)
        return;
    endLine();
    va_list args;
    va_start(args, format);
    vfprintf(m_out, format, args);
    va_end(args);
    fputc('\n', m_out);
    fflush(m_out);
    // On a terminal the progress line follows at once.
    m_last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
}

void Progress::warn(const char* format, ...)
{
    endLine();
    fflush(m_out);
    fputs("talviks-sim: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
    m_last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
}

void Progress::endLine()
{
    if (m_lineOpen)
        fputc('\n', m_out);
    m_lineOpen = false;
}

void Progress::end()
{
    endLine();
    fflush(m_out);
}
