#include "base/config/LightIntensity.h"

#include "base/config/ConfigStore.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

// Decimal text as the calibration page enters it: leading blanks skipped,
// anything after the digits ignored, no digits reads as 0.
int entryValue(const std::string& text)
{
    const long value = strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

} // namespace

int lookupLightTable(const std::vector<std::string>& keys, const std::vector<std::string>& values, int x,
                     int* result)
{
    if (!result)
        return -EINVAL;
    // A hand-made file may hold columns of different lengths.
    const size_t rows = std::min(keys.size(), values.size());
    if (rows < 2)
        return -1;
    if (x < entryValue(keys[0]) || x > entryValue(keys[rows - 1]))
        return -ENOENT;

    size_t i = 1;
    while (i < rows - 1 && entryValue(keys[i]) < x)
        ++i;
    const int k1 = entryValue(keys[i]);
    const int y1 = entryValue(values[i]);
    if (k1 == x) {
        *result = y1;
        return 0;
    }
    // Row i is the first whose key reaches x, so k0 <= x < k1: no division by zero.
    const int k0 = entryValue(keys[i - 1]);
    const int y0 = entryValue(values[i - 1]);
    const float slope = static_cast<float>(static_cast<long long>(y1) - y0) /
                        static_cast<float>(static_cast<long long>(k1) - k0);
    const float step = slope * static_cast<float>(static_cast<long long>(x) - k0);
    const double value = y0 + std::trunc(static_cast<double>(step));
    *result = static_cast<int>(std::clamp(value, double(INT_MIN), double(INT_MAX)));
    return 0;
}

int getLuxFromDuty(int duty, int* lux)
{
    const LightIntensityTable& table = ConfigStore::instance()->m_lightTable;
    return lookupLightTable(table.Duty, table.Lux, duty, lux);
}

int getDutyFromLux(int lux, int* duty)
{
    const LightIntensityTable& table = ConfigStore::instance()->m_lightTable;
    return lookupLightTable(table.Lux, table.Duty, lux, duty);
}
