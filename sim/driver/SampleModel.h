#pragma once

#include <string>

// Writes the demonstration model, a "qds" file for a panel of width x height
// pixels: `layers` layers of a few shapes that grow and move, three attach and
// four transition layers, and per-layer data on a few layers (a longer
// exposure and a slower lift for the overhang in the middle). Written whole
// (OutFiles.h): 0, or the errno value of the failure.
int writeSampleModel(const std::string& path, int width, int height, int layers);
