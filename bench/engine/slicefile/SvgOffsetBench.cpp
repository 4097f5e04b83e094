// Contour offset of one layer next to its floor: the XML round trip alone
// (parse and write back the same document).
#include "engine/slicefile/SvgOffset.h"
#include "engine/slicefile/SvgParser.h"

#include "support/BenchMain.h"
#include "writers/SvgxWriter.h"

#include <benchmark/benchmark.h>

#include <QDomDocument>

#include <random>
#include <string>
#include <vector>

namespace {

// A layer of `shapes` outlines with `corners` corners each, spread over a
// 140 x 80 mm build area.
QByteArray layer(int shapes, int corners)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<double> x(-65, 65), y(-35, 35), r(1, 5);
    std::vector<std::string> paths;
    for (int i = 0; i < shapes; ++i)
        paths.push_back(testwriters::polygonPathData(x(random), y(random), r(random), corners));
    return QByteArray(SVG_HEAD) + QByteArray::fromStdString(testwriters::layerGroup(0, paths)) + SVG_TAIL;
}

void BM_OffsetSvg(benchmark::State& state, int shapes, int corners)
{
    const QByteArray source = layer(shapes, corners);
    for (auto _ : state) {
        QByteArray svg = source;
        if (!offsetSvg(svg, 0.05f))
            state.SkipWithError("offset failed");
        benchmark::DoNotOptimize(svg.data());
    }
    state.counters["points"] = shapes * corners;
}

void BM_OffsetFloor(benchmark::State& state, int shapes, int corners)
{
    const QByteArray source = layer(shapes, corners);
    for (auto _ : state) {
        QDomDocument document;
        document.setContent(source);
        QByteArray svg = document.toByteArray(1);
        benchmark::DoNotOptimize(svg.data());
    }
}

#define OFFSET_PAIR(name, shapes, corners)                                                                    \
    BENCHMARK_CAPTURE(BM_OffsetSvg, name, shapes, corners)->Unit(benchmark::kMillisecond);                    \
    BENCHMARK_CAPTURE(BM_OffsetFloor, name, shapes, corners)->Unit(benchmark::kMillisecond);                  \
    const bool registered_##name = (registerRatio("BM_OffsetSvg/" #name, "BM_OffsetFloor/" #name), true)

OFFSET_PAIR(sparse_40x32, 40, 32);
OFFSET_PAIR(dense_400x240, 400, 240);

} // namespace
