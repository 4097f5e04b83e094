// Slice files within every cap that ask too much of the machine: a layer
// that takes longer to draw than the board may wait, parameters the panel
// cannot take, a printer that shuts down while a layer is drawn. Each ends
// with an error code or a refusal, never a crash, a hang or success.
#include "engine/print/PrinterHarness.h"

#include "base/log/RootPath.h"
#include "engine/print/PrintThread.h"
#include "engine/projection/ProjectView.h"
#include "support/TestSupport.h"
#include "writers/HostileSvg.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace testwriters;

namespace {

std::string soundLayer(unsigned n)
{
    return "<g id=\"layer-" + std::to_string(n) + "\" fill=\"white\">\n<path d=\"" + squarePathData(-2, -2, 4) +
           "\"/>\n</g>";
}

// Layer 0 sound, layer 1 gradient circles over the whole panel: on the test
// panel seconds of drawing, on a real one minutes.
std::string writeSlowLayerFile(const std::string& name)
{
    SvgxFileSpec spec;
    spec.printParams = printParamsElement(SvgxPrintParams(), 3);
    spec.layers = {soundLayer(0), gradientCirclesLayer(1, 200000, 60), soundLayer(2)};
    const std::string path = "/data/" + name + ".svgx";
    testsupport::writeFile(rootPath(path), buildSvgx(spec));
    return path;
}

std::string writeAdjustedFile(const std::string& name, float adjustX, float adjustY)
{
    SvgxPrintParams params;
    params.adjustX = adjustX;
    params.adjustY = adjustY;
    SvgxFileSpec spec;
    spec.printParams = printParamsElement(params, 1);
    spec.layers = {soundLayer(0)};
    const std::string path = "/data/" + name + ".svgx";
    testsupport::writeFile(rootPath(path), buildSvgx(spec));
    return path;
}

// Milliseconds of real time (the machine clock runs faster).
int64_t realMsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TEST(PrintHostileLayer, ALayerTooSlowToDrawEndsThePrintAtTheRenderLimitAndFreesThePanel)
{
    Printer* printer = harness::startPrinter();
    const int limitMs = 1000;
    printer->projectView()->setRenderTimeLimit(limitMs);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, printer->print(QString::fromStdString(writeSlowLayerFile("slow"))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    const char* exit = printer->getPrintExitValue();
    ASSERT_NE(nullptr, exit);
    EXPECT_STREQ("00020003", exit);
    // Stopped at its limit, long before the print's own image wait ran out.
    EXPECT_LT(realMsSince(start), PrintThread::kImageWaitMs);
    EXPECT_EQ(1u, harness::logLines("Svg layer not drawn within 1000 ms: the renderer was stopped").size());
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());

    // The panel is free at once: an image shows, and the next print runs.
    const auto shown = std::chrono::steady_clock::now();
    EXPECT_EQ(0, printer->showGrayImage(40));
    EXPECT_LT(realMsSince(shown), 2000);
    EXPECT_EQ(40, harness::framePixel(0, 0));
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("after", 2, 0, 0, 1, 1))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}

// The printer goes while the image thread waits for a layer that draws for
// seconds: nothing it uses is freed under it, and no renderer stays behind.
TEST(PrintHostileLayerDeathTest, ShutdownWhileALayerIsDrawnEndsCleanly)
{
    const std::string pidFile = rootPath("/data/renderers.txt");
    EXPECT_EXIT(
        {
            Printer* printer = harness::startPrinter();
            if (printer->print(QString::fromStdString(writeSlowLayerFile("shutdown"))) != 0)
                std::exit(3);
            // Layer 0 is made; layer 1 draws for seconds, and the print waits for it.
            if (!testsupport::eventually([printer] { return printer->printThread()->currentLayer() >= 1; }, 30000))
                std::exit(4);
            std::vector<int> renderers;
            testsupport::eventually([&renderers] {
                renderers.clear();
                for (int pid : testsupport::childProcesses(getpid()))
                    if (harness::isLayerRenderer(pid))
                        renderers.push_back(pid);
                return !renderers.empty();
            });
            std::ofstream out(pidFile);
            for (int pid : renderers)
                out << pid << "\n";
            out.close();
            std::exit(0); // the printer goes with the process
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream in(pidFile);
    int renderers = 0;
    // A process that was killed leaves the process list a moment later.
    for (int pid; in >> pid; ++renderers)
        EXPECT_TRUE(testsupport::eventually([pid] { return !harness::isLayerRenderer(pid); }))
            << "renderer " << pid << " outlived its printer";
    EXPECT_EQ(1, renderers);
}

TEST(PrintHostileLayer, ProjectionAdjustmentsOutsideASaneRangeAreRefusedBeforeTheLight)
{
    Printer* printer = harness::startPrinter();
    const struct
    {
        const char* name;
        float x, y;
    } refused[] = {
        {"huge", 1e38f, 100}, {"tiny", 100, 1e-38f}, {"zero", 0, 100}, {"negative", -100, -100},
        {"not a number", std::nanf(""), 100}, {"double", 201, 100}, {"half", 100, 49},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(-1, printer->print(QString::fromStdString(writeAdjustedFile(r.name, r.x, r.y)))) << r.name;
        EXPECT_EQ(1u, harness::logLines(std::string(r.name) + ".svgx): projection adjustment").size()) << r.name;
        EXPECT_EQ(PrintStatus::Ready, printer->printStatus()) << r.name;
    }
    EXPECT_TRUE(harness::machine().board().display().exposures().empty());

    for (float adjust : {50.0f, 99.5f, 200.0f}) {
        ASSERT_EQ(0, printer->print(QString::fromStdString(writeAdjustedFile("sane", adjust, 100)))) << adjust;
        ASSERT_TRUE(harness::waitUntilFinished(printer));
        EXPECT_STREQ("0", printer->getPrintExitValue()) << adjust;
    }
}
