#pragma once

#include "driver/PrintRecorder.h"
#include "driver/SimBoot.h"
#include "driver/SimOptions.h"
#include "driver/SimRun.h"

// Writes the timeline next to the frames and prints the result (a failure
// with its meaning and cause), the timeline's summary and where the frames,
// the timeline, the log and the engine's traces are, on simOut(), saying
// which of them could not be written whole. The process's exit status: 0
// for a finished print, 2 when aborted, 5, 21, 22 or 23 for a memory,
// light, motor or layer failure, 1 for any other; 3 for a finished print
// whose frames, timeline, log or traces were not all written.
int reportPrint(const SimOptions& options, const SimSession& session, PrintRecorder& recorder,
                const PrintOutcome& outcome);
