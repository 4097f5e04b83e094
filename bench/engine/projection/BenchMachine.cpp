#include "BenchMachine.h"

#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "board/GuiApplication.h"
#include "writers/CorrectionWriter.h"
#include "writers/LayerImages.h"
#include "writers/QdsWriter.h"

#include <QCoreApplication>
#include <QImage>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <map>

namespace benchmachine {

namespace {

constexpr int kLayers = 6;

} // namespace

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    sim::ensureGuiApplication();
    mkdir(rootPath("/data").c_str(), 0755);
    mkdir(rootPath("/data/var").c_str(), 0755);
    mkdir(rootPath("/data/etc").c_str(), 0755);
    // The layer path logs every step, as on the machine.
    logger()->init("/data/var", "TalvikS", LogInfo, 1 << 26, 2, false);
}

Machine::Machine(int width, int height, bool correctAndMask)
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
    io = std::make_unique<ScopedPlatform>(&board);
    fb = std::make_unique<FrameBuffer>(sim::FrameBufferModel::kPath);
    view = std::make_unique<ProjectView>();
    view->setFrameBuffer(fb.get());
    if (!correctAndMask)
        return;
    // Written once per panel size, loaded by every machine as the printer does.
    const std::string name = "/data/etc/bench-" + std::to_string(width) + "x" + std::to_string(height);
    struct stat written;
    if (stat(rootPath(name + ".corbin").c_str(), &written) != 0) {
        std::ofstream(rootPath(name + ".corbin"), std::ios::binary) << testwriters::projectorCorrection(width, height);
        QImage mask(width, height, QImage::Format_Grayscale8);
        for (int y = 0; y < height; ++y)
            memset(mask.scanLine(y), 200 + y % 56, size_t(width));
        mask.save(QString::fromStdString(rootPath(name + ".png")), "PNG");
    }
    view->setDLPCorrectData(name + ".corbin");
    view->setMaskImage(name + ".png");
}

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

} // namespace benchmachine
