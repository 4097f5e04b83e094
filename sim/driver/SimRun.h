#pragma once

#include "driver/PrintRecorder.h"
#include "driver/SimBoot.h"
#include "driver/SimOptions.h"

#include <cstdint>
#include <string>

// How a print run went, for the report.
struct PrintOutcome
{
    const char* exit = nullptr; // the printer's exit value; null when aborted
    int64_t abortAtNs = -1;     // machine time the abort was asked; -1 without one
    int timerSignals = 0;          // timer signals that arrived during the print
    int stopSignal = 0;            // the termination signal that stopped the printer; 0 without one
    std::string boardFile;         // the slice file as the printer has it
    std::string layerFailure;      // why the last SVG layer was not shown, as the projection said
};

// Stages the slice file, prints it with the pause, resume, abort and timer
// signals the options ask for, and shows the progress on simOut(). False,
// with the cause on stderr, when the file cannot be staged, the output
// folder keeps an earlier print's files, or the printer refuses the file (as
// it does once a termination signal came).
bool runPrint(const SimOptions& options, SimSession& session, PrintRecorder& recorder, PrintOutcome& outcome);
