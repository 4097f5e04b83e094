#pragma once

#include "board/SimMachine.h"
#include "driver/SimOptions.h"

#include <string>

class Printer;

// The booted simulator: the machine, the printer on it, and where its
// frames and the engine's traces go.
struct SimSession
{
    sim::SimMachine* machine = nullptr;
    Printer* printer = nullptr;
    std::string outDir;
    std::string tracePath;
};

// Start-up as on the board, under the scratch root: the engine's traces
// diverted to a file, paths, configuration, log, the simulated machine and
// the initialised printer. False, with the cause on stderr, when any step fails.
bool bootSimulator(const SimOptions& options, SimSession& session);
