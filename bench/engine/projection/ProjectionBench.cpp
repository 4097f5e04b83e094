// One layer from its slice-file form to the projector frame buffer, next to
// its floors measured in the same run:
// - qds layers of a model (compressed blocks to frame pixels, several
//   layers in turn) at 1920x1080 and 3840x2400, with the default
//   configuration and with correction and mask on, next to inflating the
//   same blocks plus one memcpy of a whole frame;
// - an SVG layer next to a bare QSvgRenderer load and render of the same
//   document onto a colour image of the panel's size; layers in grays (as
//   slicers write them) and, for comparison, the same layer in a colour.
#include "base/ConfigStore.h"
#include "base/LogWriter.h"
#include "base/RootPath.h"
#include "base/SysIo.h"
#include "board/FrameBufferModel.h"
#include "board/SimBoard.h"
#include "engine/projection/FrameBuffer.h"
#include "engine/projection/ProjectView.h"
#include "engine/projection/RowBands.h"
#include "support/BenchMain.h"
#include "writers/CorrectionWriter.h"
#include "writers/LayerImages.h"
#include "writers/QdsWriter.h"
#include "writers/SvgxWriter.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <sys/stat.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>

namespace {

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "projection_bench";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
    mkdir(rootPath("/data").c_str(), 0755);
    mkdir(rootPath("/data/var").c_str(), 0755);
    mkdir(rootPath("/data/etc").c_str(), 0755);
    // The layer path logs every step, as on the machine.
    logger()->init("/data/var", "TalvikS", LogInfo, 1 << 26, 2, false);
}

// A machine of the given resolution on the simulated board.
struct Machine
{
    Machine(int width, int height, bool correctAndMask)
    {
        ensureApplication();
        PrinterConfig& c = ConfigStore::instance()->m_printerConfig;
        c = PrinterConfig();
        c.XRes = width;
        c.YRes = height;
        c.CorrectFlag = correctAndMask;
        c.MaskFlag = correctAndMask;
        model = std::make_shared<sim::FrameBufferModel>(
            sim::FrameBufferModel::Geometry{uint32_t(width), uint32_t(height), 24, 0, 0});
        board.attach(sim::FrameBufferModel::kPath, model);
        io = std::make_unique<ScopedSysIo>(&board);
        fb = std::make_unique<FrameBuffer>(sim::FrameBufferModel::kPath);
        view = std::make_unique<ProjectView>();
        view->setFrameBuffer(fb.get());
        if (correctAndMask) {
            // A gentle barrel-like warp: every pixel a fraction away from itself.
            std::ofstream(rootPath("/data/etc/bench.corbin"), std::ios::binary)
                << testwriters::correctionFile(width, height, [=](int x, int y, uint32_t& sx, uint32_t& sy) {
                       sx = uint32_t((x + 1) * 1000000LL + (x * 7919 % 1000000));
                       sy = uint32_t((y + 1) * 1000000LL + (y * 104729 % 1000000));
                   });
            view->setDLPCorrectData("/data/etc/bench.corbin");
            QImage mask(width, height, QImage::Format_Grayscale8);
            for (int y = 0; y < height; ++y)
                memset(mask.scanLine(y), 200 + y % 56, size_t(width));
            mask.save(QString::fromStdString(rootPath("/data/etc/mask-bench.png")), "PNG");
            view->setMaskImage("/data/etc/mask-bench.png");
        }
    }

    sim::SimBoard board;
    std::shared_ptr<sim::FrameBufferModel> model;
    std::unique_ptr<ScopedSysIo> io;
    std::unique_ptr<FrameBuffer> fb;
    std::unique_ptr<ProjectView> view;
};

// Several different layers of a model, shown in turn, so that no layer is
// still in the cache when it comes round again.
constexpr int kLayers = 6;

const std::vector<std::string>& layerBlocks(int width, int height)
{
    static std::map<std::pair<int, int>, std::vector<std::string>> blocks;
    std::vector<std::string>& set = blocks[{width, height}];
    if (set.empty())
        for (int layer = 0; layer < kLayers; ++layer)
            set.push_back(testwriters::makeRasterBlock(testwriters::modelLayer(width, height, layer * 3)));
    return set;
}

size_t meanBlockBytes(const std::vector<std::string>& blocks)
{
    size_t total = 0;
    for (const std::string& block : blocks)
        total += block.size();
    return total / blocks.size();
}

void qdsLayer(benchmark::State& state, bool correctAndMask)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Machine machine(width, height, correctAndMask);
    const std::vector<std::string>& blocks = layerBlocks(width, height);
    size_t next = 0;
    for (auto _ : state)
        if (machine.view->decodeImageShow(blocks[next++ % blocks.size()], ComprFormat::ZlibRle) != 0)
            state.SkipWithError("layer not shown");
    state.counters["block_bytes"] = double(meanBlockBytes(blocks));
}

void BM_QdsLayer(benchmark::State& state)
{
    qdsLayer(state, false);
}

void BM_QdsLayerCorrectMask(benchmark::State& state)
{
    qdsLayer(state, true);
}

// What any layer path has to do at least: inflate the layer's block and
// move one frame's worth of bytes into the frame buffer.
void BM_FloorInflateAndFrameCopy(benchmark::State& state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    const std::vector<std::string>& blocks = layerBlocks(width, height);
    std::vector<uint8_t> pairs;
    std::vector<uint8_t> source(size_t(width) * height * 3, 1), frame(source.size());
    size_t next = 0;
    for (auto _ : state) {
        const std::string& block = blocks[next++ % blocks.size()];
        uint32_t pairBytes = 0;
        memcpy(&pairBytes, block.data(), 4);
        pairs.resize(pairBytes);
        uLongf length = pairBytes;
        uncompress(pairs.data(), &length, reinterpret_cast<const Bytef*>(block.data() + 4), uLong(block.size() - 4));
        memcpy(frame.data(), source.data(), frame.size());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.counters["block_bytes"] = double(meanBlockBytes(blocks));
}

// What splitting a frame's rows across the cores costs by itself: threads
// started for every layer, with nothing to do.
void BM_RowBandsAlone(benchmark::State& state)
{
    std::atomic<int> bands{0};
    for (auto _ : state)
        forEachRowBand(int(state.range(1)), [&](int, int) { ++bands; });
    benchmark::DoNotOptimize(bands.load());
}

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

BENCHMARK(BM_QdsLayer)->Apply(resolutions);
BENCHMARK(BM_QdsLayerCorrectMask)->Apply(resolutions);
BENCHMARK(BM_FloorInflateAndFrameCopy)->Apply(resolutions);
BENCHMARK(BM_RowBandsAlone)->Apply(resolutions);
BENCHMARK(BM_SvgLayer)->Apply(resolutions);
BENCHMARK(BM_SvgLayerInColour)->Apply(resolutions);
BENCHMARK(BM_FloorSvgRender)->Apply(resolutions);

const bool registered = [] {
    for (const char* size : {"1920/1080", "3840/2400"}) {
        const std::string suffix = std::string("/") + size + "/real_time";
        registerRatio("BM_QdsLayer" + suffix, "BM_FloorInflateAndFrameCopy" + suffix);
        registerRatio("BM_QdsLayerCorrectMask" + suffix, "BM_FloorInflateAndFrameCopy" + suffix);
        registerRatio("BM_RowBandsAlone" + suffix, "BM_FloorInflateAndFrameCopy" + suffix);
        registerRatio("BM_SvgLayer" + suffix, "BM_FloorSvgRender" + suffix);
        registerRatio("BM_SvgLayerInColour" + suffix, "BM_FloorSvgRender" + suffix);
    }
    return true;
}();

} // namespace
