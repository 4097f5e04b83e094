#include "driver/Progress.h"

#include "engine/print/PrintThread.h"
#include "engine/print/Printer.h"
#include "engine/slicefile/PrintTimeEstimate.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>

std::string clockText(double seconds)
{
    const long s = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[32];
    snprintf(text, sizeof text, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

Progress::Progress(FILE* out, bool quiet)
    : m_out(out), m_quiet(quiet), m_tty(isatty(fileno(out))),
      m_last(std::chrono::steady_clock::now() - std::chrono::seconds(1))
{
}

void Progress::update(Printer& printer)
{
    // Only a print that runs or is paused: once it ends its progress is reset.
    if (m_quiet || !printer.isPrinting())
        return;
    PrintThread* thread = printer.printThread();
    const int layer = thread->currentLayer();
    const auto now = std::chrono::steady_clock::now();
    // On a terminal the line is refreshed twice a second; elsewhere a line a layer.
    if (m_tty ? now - m_last < std::chrono::milliseconds(500) : layer == m_shownLayer)
        return;
    const bool measured = measuredLayerTime() >= 0;
    const PrintInfo info = printer.getPrintInfo();
    if (measured && !m_measured && info.currentLayer != m_settingsLayer) {
        // The estimate of this layer was made after the measurement.
        m_measured = true;
        note("Remaining time from here on: the measured time of a layer (%.1f s) times the layers left, %s "
             "(it was %s from the settings)",
             static_cast<double>(measuredLayerTime()), clockText(info.remainingTime).c_str(),
             clockText(m_remaining).c_str());
    } else if (!measured) {
        m_settingsLayer = info.currentLayer;
    }
    m_remaining = info.remainingTime;
    m_last = now;
    m_shownLayer = layer;

    char where[32];
    const int state = thread->state();
    if (state == PrintThreadIdle || state == Started || state == resetMotor) {
        snprintf(where, sizeof where, "homing     ");
    } else {
        float z = 0;
        printer.getPosition(z);
        snprintf(where, sizeof where, "Z %7.3f mm", static_cast<double>(z));
    }
    const int shown = std::max(1, std::min(info.currentLayer + 1, info.layerCount));
    char line[160];
    snprintf(line, sizeof line, "layer %d/%d  %s  elapsed %s  remaining %s%s", shown, info.layerCount, where,
             clockText(info.elapsedTime).c_str(), m_measured ? "" : "~", clockText(info.remainingTime).c_str());
    if (m_tty) {
        fprintf(m_out, "\r%s   ", line);
        m_lineOpen = true;
    } else if (m_line != line) {
        fprintf(m_out, "%s\n", line);
    }
    m_line = line;
    fflush(m_out);
}

void Progress::note(const char* format, ...)
{
    if (m_quiet)
        return;
    if (m_lineOpen)
        fputc('\n', m_out);
    m_lineOpen = false;
    va_list args;
    va_start(args, format);
    vfprintf(m_out, format, args);
    va_end(args);
    fputc('\n', m_out);
    fflush(m_out);
    // The progress line follows at once.
    m_last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    m_shownLayer = -1;
}

void Progress::end()
{
    if (m_lineOpen)
        fputc('\n', m_out);
    m_lineOpen = false;
    fflush(m_out);
}
