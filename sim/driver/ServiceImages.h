#pragma once

#include "board/SimMachine.h"
#include "driver/SimOptions.h"

#include <string>

class Printer;

// Projects the test pattern or the mask grid the options name on the booted
// printer and writes the frame buffer as a PNG into `outDir`. The process's
// exit status: 0 when the frame was written, 1 otherwise.
int showServiceImage(const SimOptions& options, Printer& printer, sim::SimMachine& machine, const std::string& outDir);
