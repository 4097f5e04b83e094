#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Float-to-integer conversions for numbers that come from files: NaN and
// negative values give 0, values past the type's range give its maximum, the
// rest is truncated toward zero. A plain cast of such values is undefined.
template <typename Unsigned>
Unsigned saturatingCast(double value)
{
    static_assert(std::numeric_limits<Unsigned>::is_integer && !std::numeric_limits<Unsigned>::is_signed);
    constexpr double limit = static_cast<double>(std::numeric_limits<Unsigned>::max());
    if (!(value > 0))
        return 0;
    if (value >= limit)
        return std::numeric_limits<Unsigned>::max();
    return static_cast<Unsigned>(value);
}
