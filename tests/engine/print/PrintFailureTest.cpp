// Prints that fail: each ends with its result code, the light off and the
// printer Ready.
#include "engine/print/PrinterHarness.h"

#include "base/config/ConfigStore.h"
#include "base/log/RootPath.h"
#include "engine/print/PrintThread.h"
#include "support/TestSupport.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

namespace {

void expectEndedWith(Printer* printer, const char* code)
{
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    const char* exit = printer->getPrintExitValue();
    ASSERT_NE(nullptr, exit);
    EXPECT_STREQ(code, exit);
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());
}

} // namespace

TEST(PrintFailure, ALayerThatCannotBeDecodedEndsThePrintWithoutExposure)
{
    Printer* printer = harness::startPrinter();
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeQds("corrupt", 4, 2))));
    expectEndedWith(printer, "00020003");
    EXPECT_EQ(1u, harness::logLines("Layer 2: its image could not be made").size());
    // Layers 0 and 1 were exposed; the damaged layer 2 never was.
    EXPECT_EQ(2u, harness::machine().board().display().exposures().size());
}

// A truncated file is a damaged file, not a shortage of memory.
TEST(PrintFailure, ALayerCutOffByTheEndOfTheFileIsAFileFailure)
{
    Printer* printer = harness::startPrinter();
    testwriters::SvgxFileSpec spec;
    spec.printParams = testwriters::printParamsElement(testwriters::SvgxPrintParams(), 3);
    spec.layers.push_back("<g id=\"layer-0\" fill=\"white\">\n" "<path d=\"" +
                          testwriters::squarePathData(-1, -1, 2) + "\"/>\n</g>");
    spec.layers.push_back("<g id=\"layer-1\" fill=\"white\">\n<path d=\"M 0 0 L 1 0 L 1 1 Z\"/>"); // never closed
    spec.withSvgEnd = false;
    testsupport::writeFile(rootPath("/data/cut.svgx"), testwriters::buildSvgx(spec));
    ASSERT_EQ(0, printer->print("/data/cut.svgx"));
    expectEndedWith(printer, "00020003");
    EXPECT_EQ(1u, harness::logLines("The next layer cannot be read from the file").size());
    EXPECT_EQ(1u, harness::logLines("Layer 1: its image could not be made").size());
    EXPECT_TRUE(harness::logLines("Memory Not Enough").empty());
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
}

TEST(PrintFailure, AStalledAxisIsAMotorFailure)
{
    Printer* printer = harness::startPrinter();
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("stall", 3, 0, 0, 2, 2))));
    ASSERT_TRUE(harness::waitForState(printer, waitSettle));
    harness::machine().board().motor().setStall(true);
    expectEndedWith(printer, "00020002");
    EXPECT_EQ(1u, harness::logLines("motorMoveWait, 00020002").size());
}

TEST(PrintFailure, ALightThatDoesNotSwitchOnOrOffIsALightFailure)
{
    Printer* printer = harness::startPrinter();
    sim::PrinterBoard& board = harness::machine().board();
    // A settle long enough to plan the failure before the light is switched on.
    PrintingPara& p = ConfigStore::instance()->m_printingPara;
    const uint32_t settle = p.BaseSettleTime;
    p.BaseSettleTime = static_cast<uint32_t>(harness::kLongSeconds * 1000);
    ConfigStore::instance()->m_printingParaFast = p;
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("on", 3, 0, 0, 2, 2))));
    ASSERT_TRUE(harness::waitForState(printer, waitSettle));
    board.board().faults().failNext("/dev/i2c-0", sim::IoOp::Ioctl, 1, EIO);
    expectEndedWith(printer, "00020001");
    EXPECT_TRUE(board.display().exposures().empty());

    board.display().clearTimeline();
    p.BaseSettleTime = settle;
    ConfigStore::instance()->m_printingParaFast = p;
    // An exposure long enough to plan the failure before the light is switched off.
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("off", 3, 0, 0, 2, harness::kLongSeconds))));
    ASSERT_TRUE(harness::waitForState(printer, waitExpose));
    ASSERT_TRUE(testsupport::eventually([&board] { return board.display().isLightOn(); }, 10000, 100));
    board.board().faults().failNext("/dev/i2c-0", sim::IoOp::Ioctl, 1, EIO);
    // The switch-off failed; the clean-up's switch-off turns the light off.
    expectEndedWith(printer, "00020001");
    ASSERT_EQ(1u, board.display().exposures().size());
    EXPECT_FALSE(board.display().exposures()[0].isOpen());
}

TEST(PrintFailure, HomingThatFailsIsAMotorFailure)
{
    Printer* printer = harness::startPrinter();
    harness::machine().board().motor().setSwitchFault(sim::StepperDriverModel::SwitchFault::StuckOpen);
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("nohome", 2, 0, 0, 2, 2))));
    expectEndedWith(printer, "00020002");
    EXPECT_TRUE(harness::machine().board().display().exposures().empty());
}
