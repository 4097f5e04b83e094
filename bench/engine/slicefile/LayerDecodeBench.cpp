// Layer decoding next to its floor: zlib's uncompress of the same block into
// a buffer plus one memset of the frame.
#include "engine/slicefile/LayerDecoder.h"

#include "support/BenchMain.h"
#include "writers/LayerImages.h"
#include "writers/QdsWriter.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

enum class Kind { Shapes, Noise };

const std::string& block(Kind kind, int width, int height)
{
    static std::map<std::tuple<Kind, int, int>, std::string> blocks;
    std::string& b = blocks[{kind, width, height}];
    if (b.empty())
        b = testwriters::makeRasterBlock(kind == Kind::Shapes ? testwriters::shapesLayer(width, height, 7)
                                                               : testwriters::noiseLayer(width, height, 7));
    return b;
}

void BM_DecodeLayer(benchmark::State& state, Kind kind, int width, int height)
{
    const std::string& data = block(kind, width, height);
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height);
    std::vector<uint8_t> scratch;
    for (auto _ : state) {
        const int result = decodeLayerData(frame.data(), static_cast<int>(frame.size()), scratch, data,
                                           static_cast<unsigned>(data.size()));
        if (result != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.counters["block_kB"] = data.size() / 1024.0;
}

void BM_DecodeFloor(benchmark::State& state, Kind kind, int width, int height)
{
    const std::string& data = block(kind, width, height);
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height);
    const uint32_t stated = static_cast<uint8_t>(data[0]) | static_cast<uint8_t>(data[1]) << 8 |
                            static_cast<uint8_t>(data[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(data[3])) << 24;
    std::vector<uint8_t> pairs(stated);
    for (auto _ : state) {
        uLongf length = stated;
        if (uncompress(pairs.data(), &length, reinterpret_cast<const Bytef*>(data.data()) + 4, data.size() - 4) != Z_OK)
            state.SkipWithError("uncompress failed");
        memset(frame.data(), pairs[0], frame.size());
        benchmark::DoNotOptimize(frame.data());
        benchmark::DoNotOptimize(pairs.data());
        benchmark::ClobberMemory();
    }
}

#define DECODE_PAIR(name, kind, w, h)                                                                            \
    BENCHMARK_CAPTURE(BM_DecodeLayer, name, kind, w, h)->Unit(benchmark::kMillisecond);                          \
    BENCHMARK_CAPTURE(BM_DecodeFloor, name, kind, w, h)->Unit(benchmark::kMillisecond);                          \
    const bool registered_##name = (registerRatio("BM_DecodeLayer/" #name, "BM_DecodeFloor/" #name), true)

DECODE_PAIR(shapes_1920x1080, Kind::Shapes, 1920, 1080);
DECODE_PAIR(shapes_3840x2400, Kind::Shapes, 3840, 2400);
DECODE_PAIR(noise_1920x1080, Kind::Noise, 1920, 1080);
DECODE_PAIR(noise_3840x2400, Kind::Noise, 3840, 2400);

} // namespace
