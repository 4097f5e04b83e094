#pragma once

#include <string>
#include <vector>

// Lookups in the light calibration table of the configuration store: from a
// UV light duty to the intensity measured at it, and back. Exact at a
// measured row, interpolated on a straight line between neighbouring rows.
// Each answers 0 with the result stored through the pointer; -1 when the
// table has fewer than two complete rows; -ENOENT when the input lies outside
// the keys; -EINVAL for a null result pointer. The result is untouched on failure.
int getLuxFromDuty(int duty, int* lux);
int getDutyFromLux(int lux, int* duty);

// The lookup itself over one key and one value column (decimal texts); only
// rows present in both columns count.
int lookupLightTable(const std::vector<std::string>& keys, const std::vector<std::string>& values, int x,
                     int* result);
