#pragma once

#include "driver/SimOptions.h"

#include <QString>

#include <string>

struct PrinterConfig;

// The machine the command line asks for: its panel resolution, and the
// correction file and mask image it prints with; the files it is given,
// copied into the scratch root.

// Copies a file of the host to a board path, whole or not at all
// (OutFiles.h); a file already there is used as it is. False, with the
// cause on stderr, when it cannot be copied.
bool copyIntoRoot(const std::string& hostPath, const std::string& boardPath);

// The --resolution option over the configured panel.
void applyResolution(const SimOptions& options, PrinterConfig& machine);

// Copies the correction file and the mask image of the options to where the
// machine keeps them and switches their steps on. The board paths to hand to
// the printer's initialisation (empty when not asked for); false, with the
// cause on stderr, when a file does not fit the machine: the print would
// otherwise run without it.
bool stageMachineFiles(const SimOptions& options, PrinterConfig& machine, QString& maskPath, QString& correctionPath);

// Writes a projector's correction file for a panel of width x height, whole
// (OutFiles.h): 0, or the errno value of the failure.
int writeCorrectionSample(const std::string& path, int width, int height);
