#include "driver/Progress.h"

#include "driver/PrintRecorder.h"
#include "engine/print/Printer.h"
#include "engine/slicefile/PrintTimeEstimate.h"

#include <unistd.h>

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

void Progress::update(Printer& printer, PrintRecorder& recorder)
{
    // Only a print that runs or is paused: once it ends its progress is reset.
    if (m_quiet || !printer.isPrinting())
        return;
    // On a terminal the line is refreshed twice a second; elsewhere a line a layer.
    const auto now = std::chrono::steady_clock::now();
    if (m_tty && now - m_last < std::chrono::milliseconds(500))
        return;
    int exposed = -1;
    double plateMm = 0;
    recorder.lastExposure(exposed, plateMm);
    if (!m_tty && exposed == m_shownLayer)
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
    m_shownLayer = exposed;

    char where[32];
    if (exposed < 0)
        snprintf(where, sizeof where, "homing     ");
    else
        snprintf(where, sizeof where, "Z %7.3f mm", plateMm);
    char line[160];
    snprintf(line, sizeof line, "layer %d/%d  %s  elapsed %s  remaining %s%s", exposed < 0 ? 1 : exposed + 1,
             info.layerCount, where, clockText(info.elapsedTime).c_str(), m_measured ? "" : "~",
             clockText(info.remainingTime).c_str());
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
