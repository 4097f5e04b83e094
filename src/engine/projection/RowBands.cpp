#include "engine/projection/RowBands.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Below this many rows per band a thread costs more than it saves.
constexpr int kMinRowsPerBand = 64;
constexpr int kMaxBands = 16;

} // namespace

void forEachRowBand(int rows, const std::function<void(int first, int end)>& band)
{
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const int bands = std::max(1, std::min({cores, kMaxBands, rows / kMinRowsPerBand}));
    std::vector<std::thread> helpers;
    helpers.reserve(size_t(bands - 1));
    int first = 0;
    for (int b = 0; b < bands; ++b) {
        const int end = int(int64_t(rows) * (b + 1) / bands);
        if (b == bands - 1) {
            band(first, end);
        } else {
            try {
                helpers.emplace_back(band, first, end);
            } catch (const std::system_error&) {
                band(first, end); // no thread to be had: this one does the work
            }
        }
        first = end;
    }
    for (std::thread& t : helpers)
        t.join();
}
