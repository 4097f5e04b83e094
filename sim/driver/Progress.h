#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class Printer;
class PrintRecorder;

// The print's progress on the simulator's output, layers counted from 1: a
// line a layer, shown as its exposure begins, with the plate's height then
// (the timeline's z_mm), or "homing" until the first exposure, the elapsed
// and the remaining time ("~" while it is the settings' estimate, before a
// layer was measured); on a terminal one line, refreshed twice a second.
// And a line of its own for each event: a pause, a resume, an abort, and
// the remaining time's change from the settings to the measured layer time.
// `quiet` hides all that, but not the warnings.
class Progress
{
public:
    Progress(FILE* out, bool quiet);
    void update(Printer& printer, PrintRecorder& recorder);
    void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A warning on stderr, also when quiet.
    void warn(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends a refreshed line.
    void end();

private:
    void endLine();

    FILE* const m_out;
    const bool m_quiet;
    const bool m_tty;
    std::chrono::steady_clock::time_point m_last;
    int m_shownLayer = -2;   // the exposed layer of the last line (-1: homing)
    bool m_lineOpen = false; // a refreshed line is on the terminal
    // The remaining time: the last shown, and the layer it was shown at
    // while it was still the settings' estimate.
    float m_remaining = -1;
    int m_settingsLayer = -1;
    bool m_measured = false;
};

// "hh:mm:ss" of machine seconds.
std::string clockText(double seconds);
