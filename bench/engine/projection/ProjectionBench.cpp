// An SVG layer from its document to the projector frame buffer, next to a
// bare QSvgRenderer load and render of the same document onto a colour image
// of the panel's size (its floor, measured in the same run): layers in grays
// (as slicers write them) and, for comparison, the same layer in a colour.
// The qds layers are in QdsLayerBench.cpp.
#include "BenchMachine.h"

#include "support/BenchMain.h"
#include "writers/SvgxWriter.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <random>

using benchmachine::ensureApplication;
using benchmachine::Machine;

namespace {

// A layer of 36 round parts of 64 corners across the default 144 x 81 mm area.
std::string svgLayer(const std::string& fill = "#ffffff")
{
    std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
                      "version=\"1.1\">\n<g id=\"layer-12\" style=\"fill:" + fill + "\">\n";
    std::mt19937 random(5);
    for (int i = 0; i < 36; ++i) {
        const double cx = -60 + (i % 9) * 15, cy = -30 + (i / 9) * 18;
        doc += "<path d=\"" + testwriters::polygonPathData(cx, cy, 3 + random() % 4, 64) + "\"/>\n";
    }
    return doc + "</g>\n</svg>";
}

void svgLayerShown(benchmark::State& state, const std::string& fill)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Machine machine(width, height, false);
    const std::string doc = svgLayer(fill);
    for (auto _ : state)
        if (machine.view->showSvgLayer(doc) != 0)
            state.SkipWithError("layer not shown");
}

void BM_SvgLayer(benchmark::State& state)
{
    svgLayerShown(state, "#ffffff");
}

void BM_SvgLayerInColour(benchmark::State& state)
{
    svgLayerShown(state, "#ff8000");
}

void BM_FloorSvgRender(benchmark::State& state)
{
    ensureApplication();
    const int width = int(state.range(0)), height = int(state.range(1));
    const QByteArray doc = QByteArray::fromStdString(svgLayer());
    QImage image(width, height, QImage::Format_RGB32);
    for (auto _ : state) {
        QSvgRenderer renderer(doc);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.translate(width / 2, height / 2);
        painter.scale(width / 144.0, height / 81.0);
        renderer.render(&painter, renderer.viewBoxF());
    }
}

void resolutions(benchmark::internal::Benchmark* b)
{
    b->Args({1920, 1080})->Args({3840, 2400})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_SvgLayer)->Apply(resolutions);
BENCHMARK(BM_SvgLayerInColour)->Apply(resolutions);
BENCHMARK(BM_FloorSvgRender)->Apply(resolutions);

const bool registered = [] {
    for (const char* size : {"1920/1080", "3840/2400"}) {
        const std::string suffix = std::string("/") + size + "/real_time";
        registerRatio("BM_SvgLayer" + suffix, "BM_FloorSvgRender" + suffix);
        registerRatio("BM_SvgLayerInColour" + suffix, "BM_FloorSvgRender" + suffix);
    }
    return true;
}();

} // namespace
