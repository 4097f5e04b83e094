#include "engine/print/PrinterHarness.h"

#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "board/GuiApplication.h"
#include "engine/print/PrintThread.h"
#include "support/TestSupport.h"
#include "writers/QdsWriter.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace harness {

namespace {

sim::SimMachine* g_machine = nullptr;

void configureMachine()
{
    ConfigStore* config = ConfigStore::instance();
    PrinterConfig& machine = config->m_printerConfig;
    machine.XRes = kWidth;
    machine.YRes = kHeight;
    machine.Width = kWidth / 2.0f;
    machine.Height = kHeight / 2.0f;
    PrintingPara& p = config->m_printingPara;
    p.SettleTime = 1000;
    p.BaseSettleTime = 2000;
    p.BaseSettleLayer = 1;
    p.BaseSettleTransLayer = 0;
    p.ReleaseTime = 500;
    p.BreatheTime = 500;
    p.PauseOverLift = 20;
    p.FinishOverLift = 10;
    config->m_printingParaFast = p;
}

} // namespace

Printer* startPrinter(double speed)
{
    Printer* printer = bootPrinter(speed);
    EXPECT_EQ("", printer->initialize("", ""));
    return printer;
}

Printer* bootPrinter(double speed)
{
    sim::ensureGuiApplication();
    testsupport::makeDirs(rootPath("/data/var"));
    testsupport::makeDirs(rootPath("/data/etc"));
    LogWriter::instance()->init("/data/var", "TalvikS", 0, 64 << 20, 3, false);
    ConfigStore::instance()->load("/data/etc");
    configureMachine();
    sim::SimMachine::Options options;
    options.speed = speed;
    options.frame.xres = kWidth;
    options.frame.yres = kHeight;
    g_machine = &sim::SimMachine::boot(options);
    return Printer::instance();
}

sim::SimMachine& machine()
{
    return *g_machine;
}

std::string writeSvgx(const std::string& name, int layers, int attachLayers, int transitionLayers,
                      float attachSeconds, float normalSeconds)
{
    testwriters::SvgxPrintParams params;
    params.attachLayers = static_cast<unsigned>(attachLayers);
    params.transitionLayers = static_cast<unsigned>(transitionLayers);
    params.attachTime = attachSeconds;
    params.baseTime = normalSeconds;
    testwriters::SvgxFileSpec spec;
    spec.printParams = testwriters::printParamsElement(params, static_cast<unsigned>(layers));
    // Layer n: a white square of 2 + n mm at the centre, so every layer looks different.
    for (int n = 0; n < layers; ++n) {
        const double size = 2 + n;
        spec.layers.push_back("<g id=\"layer-" + std::to_string(n) + "\" fill=\"white\">\n<path d=\"" +
                              testwriters::squarePathData(-size / 2, -size / 2, size) + "\"/>\n</g>");
    }
    const std::string path = "/data/" + name + ".svgx";
    testsupport::writeFile(rootPath(path), testwriters::buildSvgx(spec));
    return path;
}

std::string writeQds(const std::string& name, int layers, int corruptLayer)
{
    return writeQdsSpec(name, qdsSpec(layers, corruptLayer));
}

testwriters::QdsFileSpec qdsSpec(int layers, int corruptLayer)
{
    testwriters::QdsFileSpec spec;
    spec.general.xRes = kWidth;
    spec.general.yRes = kHeight;
    spec.general.bottomLayers = 1;
    spec.general.transitionLayers = 1;
    spec.general.bottomExposure = 300; // 10 ms units
    spec.general.exposure = 200;
    for (int n = 0; n < layers; ++n) {
        // Layer n: the first n + 1 rows lit.
        std::vector<uint8_t> pixels(kWidth * kHeight, 0);
        std::fill(pixels.begin(), pixels.begin() + (n + 1) * kWidth, 255);
        testwriters::QdsLayerSpec layer;
        layer.raster = testwriters::makeRasterBlock(pixels);
        if (n == corruptLayer)
            layer.raster.replace(8, 4, "BAD!");
        spec.layers.push_back(layer);
    }
    return spec;
}

std::string writeQdsSpec(const std::string& name, const testwriters::QdsFileSpec& spec)
{
    const std::string path = "/data/" + name + ".qds";
    testsupport::writeFile(rootPath(path), testwriters::buildQds(spec));
    return path;
}

// The printer's steps are polled finer than a millisecond: at the test's
// clock speed a short wait lasts only a few milliseconds of real time.
constexpr int kPollUs = 100;

bool waitUntilFinished(Printer* printer, double seconds)
{
    return testsupport::eventually([printer] { return printer->isPrintFinished(); }, static_cast<int>(seconds * 1000));
}

bool waitForState(Printer* printer, int state, double seconds)
{
    return testsupport::eventually([printer, state] { return printer->printThread()->state() == state; },
                                   static_cast<int>(seconds * 1000), kPollUs);
}

bool waitForStatus(Printer* printer, PrintStatus status, double seconds)
{
    return testsupport::eventually([printer, status] { return printer->printStatus() == status; },
                                   static_cast<int>(seconds * 1000), kPollUs);
}

std::vector<std::string> logLines(const std::string& text)
{
    std::vector<std::string> found;
    for (const auto& line : testsupport::splitLines(testsupport::readFile(rootPath("/data/var/TalvikS.log"))))
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

bool isLayerRenderer(int pid)
{
    const std::string command = testsupport::readFile("/proc/" + std::to_string(pid) + "/cmdline");
    return command.find("talviks-layer-render") != std::string::npos;
}

int framePixel(int x, int y)
{
    const auto bytes = g_machine->board().frameBuffer().visibleBytes();
    return bytes[static_cast<size_t>(y * kWidth + x) * 3];
}

LightRecorder::LightRecorder()
{
    machine().board().display().setLightHook([this](const sim::DisplayControllerModel::LightEvent& e) {
        sim::PrinterBoard& board = machine().board();
        const auto bytes = board.frameBuffer().visibleBytes();
        int lit = 0;
        for (size_t i = 0; i < bytes.size(); i += 3)
            lit += (bytes[i] | bytes[i + 1] | bytes[i + 2]) > 128;
        const bool aborting = Printer::instance()->isAborting();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_switches.push_back({e.on, board.motor().physicalMm(), lit, aborting});
    });
}

LightRecorder::~LightRecorder()
{
    machine().board().display().setLightHook(nullptr);
}

std::vector<LightSwitch> LightRecorder::events()
{
    std::vector<LightSwitch> on;
    for (const auto& s : switches())
        if (s.on)
            on.push_back(s);
    return on;
}

std::vector<LightSwitch> LightRecorder::switches()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_switches;
}

} // namespace harness
