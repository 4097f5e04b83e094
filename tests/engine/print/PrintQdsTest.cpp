// qds prints on the simulated machine: moves, per-layer parameters, and the
// values a damaged file may carry.
#include "engine/print/PrinterHarness.h"

#include "base/log/RootPath.h"
#include "engine/print/PrintThread.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using harness::LightRecorder;
using testwriters::QdsFileSpec;

namespace {

// Lift 2 + 4 mm and drop 4 + 2 mm at 5 mm/s: the general values of these tests.
QdsFileSpec matchedSpec(int layers)
{
    QdsFileSpec spec = harness::qdsSpec(layers);
    spec.general.liftI = {200, 500};
    spec.general.liftII = {400, 500};
    spec.general.dropI = {400, 500};
    spec.general.dropII = {200, 500};
    return spec;
}

// Layer 2 asks for a 5 s exposure and a drop of 4 + 2.9 mm.
testwriters::QdsSpecialValues longerDrop()
{
    testwriters::QdsSpecialValues special;
    special.dropI.x = 400;
    special.dropII.x = 290;
    special.exposure = 500;
    return special;
}

void expectOneLayerApart(const std::vector<harness::LightSwitch>& events, size_t layers)
{
    ASSERT_EQ(layers, events.size());
    for (size_t n = 1; n < layers; ++n)
        EXPECT_NEAR(0.05 * n, events[n].plateMm - events[0].plateMm, 0.003) << "layer " << n;
}

void expectRefused(Printer* printer, const QdsFileSpec& spec, const char* name, const char* cause)
{
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeQdsSpec(name, spec)))) << name;
    EXPECT_EQ(1u, harness::logLines(std::string(name) + ".qds): " + cause).size()) << name;
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
}

// The print ends with "00020003" and the log line, layers 0 and 1 exposed, layer 2 not.
void expectEndedBeforeLayer2(Printer* printer, const std::string& logged)
{
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    const char* exit = printer->getPrintExitValue();
    ASSERT_NE(nullptr, exit);
    EXPECT_STREQ("00020003", exit);
    EXPECT_EQ(1u, harness::logLines(logged).size());
    EXPECT_EQ(2u, harness::machine().board().display().exposures().size());
}

} // namespace

TEST(PrintQds, EveryLayerMovesAndExposesWithItsOwnParameters)
{
    Printer* printer = harness::startPrinter();
    LightRecorder recorder;
    QdsFileSpec spec = matchedSpec(5);
    spec.layers[2].special = longerDrop();
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeQdsSpec("special", spec))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_STREQ("0", printer->getPrintExitValue());

    // Layer 2's block holds for the layers after it too; its drop is made
    // to match the lift, so every layer is one layer height above the last.
    expectOneLayerApart(recorder.events(), 5);
    const auto events = recorder.events();
    for (size_t n = 0; n < events.size(); ++n)
        EXPECT_EQ(harness::kWidth * static_cast<int>(n + 1), events[n].litPixels) << "layer " << n;
    const int exposure[] = {3000, 2500, 5000, 5000, 5000};
    const auto lines = harness::logLines("waitExpose [");
    ASSERT_EQ(5u, lines.size());
    for (int n = 0; n < 5; ++n)
        EXPECT_NE(std::string::npos, lines[n].find("waitExpose [" + std::to_string(exposure[n]) + "]")) << lines[n];
    EXPECT_EQ(4u, harness::logLines("Move(-5.950000mm), relative(Y), wait(Y)").size());
    EXPECT_EQ(5u, harness::logLines("Move(6.000000mm), relative(Y), wait(Y)").size());
    EXPECT_EQ(1u, harness::logLines("Lift Dist And Drop Dist Inconformity").size());
    EXPECT_EQ(5u, harness::logLines("ImageMaker End").size());
}

TEST(PrintQds, GeneralLiftAndDropThatDifferByAFraction)
{
    Printer* printer = harness::startPrinter();
    LightRecorder recorder;
    QdsFileSpec spec = matchedSpec(4);
    spec.general.dropII = {290, 500};
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeQdsSpec("fraction", spec))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    ASSERT_STREQ("0", printer->getPrintExitValue());
    expectOneLayerApart(recorder.events(), 4);
}

TEST(PrintQds, UnreadableLayerParametersEndThePrint)
{
    Printer* printer = harness::startPrinter();
    QdsFileSpec spec = matchedSpec(4);
    spec.layers[2].special = longerDrop();
    testwriters::QdsLayout layout;
    std::string bytes = testwriters::buildQds(spec, &layout);
    // Layer 2's block lies past the end of the file.
    testwriters::putU64(bytes, layout.layerTable + 2 * 80 + 8, bytes.size() + 4096);
    testsupport::writeFile(rootPath("/data/lost.qds"), bytes);
    ASSERT_EQ(0, printer->print("/data/lost.qds"));
    expectEndedBeforeLayer2(printer, "Layer 2: its parameters cannot be read");
}

TEST(PrintQds, ValuesNoPrintCanUseAreRefusedBeforeTheLight)
{
    Printer* printer = harness::startPrinter();
    QdsFileSpec spec = matchedSpec(2);
    spec.general.layerHeight = 0;
    expectRefused(printer, spec, "flat", "layer height");
    spec.general.layerHeight = -0.05f;
    expectRefused(printer, spec, "negative", "layer height");
    spec.general.layerHeight = 1e30f;
    expectRefused(printer, spec, "tall", "layer height");
    spec.general.layerHeight = 1e-40f;
    expectRefused(printer, spec, "thin", "layer height");
    spec = matchedSpec(2);
    spec.general.exposure = 0;
    expectRefused(printer, spec, "dark", "exposure");
    spec = matchedSpec(0);
    expectRefused(printer, spec, "empty", "no layers");
    EXPECT_TRUE(harness::machine().board().display().exposures().empty());

    // A layer whose own block asks for an absurd height ends the print there.
    spec = matchedSpec(4);
    spec.layers[2].special = longerDrop();
    spec.layers[2].special->layerHeight = 1e30f;
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeQdsSpec("towering", spec))));
    expectEndedBeforeLayer2(printer, "Layer 2 refused: layer height");

    spec = matchedSpec(2);
    spec.general.layerHeight = 0.001f; // a micrometre: still a layer
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeQdsSpec("micrometre", spec))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}
