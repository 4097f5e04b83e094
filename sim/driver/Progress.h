#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class Printer;

// The print's progress on the simulator's output, layers counted from 1: a
// line a layer (on a terminal one line, refreshed twice a second) with the
// plate's height, or "homing" until the first layer begins, the elapsed and
// the remaining time ("~" while it is the settings' estimate, before a layer
// was measured); and a line of its own for each event: a pause, a resume, an
// abort, and the remaining time's change from the settings to the measured
// layer time. Nothing with `quiet`.
class Progress
{
public:
    Progress(FILE* out, bool quiet);
    void update(Printer& printer);
    void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends a refreshed line.
    void end();

private:
    FILE* const m_out;
    const bool m_quiet;
    const bool m_tty;
    std::chrono::steady_clock::time_point m_last;
    int m_shownLayer = -1;
    bool m_lineOpen = false; // a refreshed line is on the terminal
    std::string m_line;      // the last line shown
    // The remaining time: the last shown, and the layer it was shown at
    // while it was still the settings' estimate.
    float m_remaining = -1;
    int m_settingsLayer = -1;
    bool m_measured = false;
};

// "hh:mm:ss" of machine seconds.
std::string clockText(double seconds);
