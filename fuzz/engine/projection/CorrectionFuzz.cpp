// Projection correction files from outside: whatever positions a file holds,
// building the table and resampling a layer with it stays inside the planes,
// and every pixel's weights add up to one whole.
// Input: width and height (2 to 17 each), then the X and Y arrays.
#include "engine/projection/CorrectionTable.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int width = 2 + data[0] % 16;
    const int height = 2 + data[1] % 16;
    const size_t count = size_t(width) * height;
    std::vector<uint32_t> x(count, 0), y(count, 0);
    const size_t bytes = std::min(size - 2, count * 8);
    for (size_t i = 0; i < bytes; ++i) {
        uint32_t& value = (i / 4 < count ? x[i / 4] : y[i / 4 - count]);
        value |= uint32_t{data[2 + i]} << (8 * (i % 4));
    }
    CorrectionTable table;
    if (table.build(x.data(), y.data(), width, height) != 0)
        __builtin_trap();
    // Exactly the room the table asks for: any read beyond is caught.
    std::vector<uint8_t> source(count + table.sourceSlack(), 0), corrected(count);
    for (size_t i = 0; i < count; ++i)
        source[i] = static_cast<uint8_t>(i * 37);
    table.apply(source.data(), corrected.data());
    // Weights of a pixel add up to one whole: a uniform layer stays uniform
    // wherever it is sampled, and a pixel sampled outside it is black.
    std::fill(source.begin(), source.end(), uint8_t{200});
    table.apply(source.data(), corrected.data());
    for (size_t i = 0; i < count; ++i)
        if (corrected[i] != 200 && corrected[i] != 0)
            __builtin_trap();
    return 0;
}
