// The printer's test patterns reach the frame buffer exactly as built, at
// the usual and at an odd width; patterns and mask images are refused while
// a print runs or is paused, and work again once it has ended.
#include "engine/print/PanelPrinter.h"
#include "engine/print/PrinterHarness.h"

#include "base/config/SystemState.h"
#include "base/log/RootPath.h"
#include "engine/print/MaskGrid.h"
#include "engine/projection/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct Pattern
{
    const char* name;
    std::function<int(Printer*)> show;
    std::function<void(QImage&)> build;
};

const Pattern kPatterns[] = {
    {"GridLine", [](Printer* p) { return p->showBlackImage(); }, makeGridLineImage},
    {"ABC white on black", [](Printer* p) { return p->showGridImage(false); },
     [](QImage& i) { makeAbcImage(i, false); }},
    {"ABC black on white", [](Printer* p) { return p->showGridImage(true); },
     [](QImage& i) { makeAbcImage(i, true); }},
    {"Stripe", [](Printer* p) { return p->showTestImage(); }, makeStripeImage},
    {"Midpoint", [](Printer* p) { return p->showRectImage(); }, makeMidpointImage},
    {"280Point", [](Printer* p) { return p->showBlockImage(); }, makeBlockImage},
};

class ShownPattern : public testing::TestWithParam<QSize>
{
};

} // namespace

TEST_P(ShownPattern, ReachesTheFrameBufferAsBuilt)
{
    const QSize size = GetParam();
    Printer* printer = panel::startPrinter(size.width(), size.height());
    // Something else on the panel first: every pattern covers all of it.
    ASSERT_EQ(0, printer->showGrayImage(90));
    for (const Pattern& pattern : kPatterns) {
        SCOPED_TRACE(pattern.name);
        ASSERT_EQ(0, pattern.show(printer));
        QImage expected;
        pattern.build(expected);
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(expected.convertToFormat(QImage::Format_RGB32), panel::frame().convertToFormat(QImage::Format_RGB32));
    }
}

INSTANTIATE_TEST_SUITE_P(Panels, ShownPattern, testing::Values(QSize(1920, 1080), QSize(1366, 767)),
                         [](const testing::TestParamInfo<QSize>& info) {
                             return std::to_string(info.param.width()) + "x" + std::to_string(info.param.height());
                         });

TEST(ServiceImages, RefusedWhileAPrintRunsOrIsPaused)
{
    Printer* printer = harness::startPrinter();
    testsupport::makeDirs(rootPath("/media/sda1"));
    SystemState::instance()->setUsbPath("/media/sda1");
    MaskGrid grid(harness::kWidth, harness::kHeight, 24);
    ASSERT_EQ(0, grid.setGridSize(2, 2));
    const QString before = grid.cellsToText();

    auto expectRefused = [&] {
        EXPECT_EQ(-1, printer->showBlackImage());
        EXPECT_EQ(-1, printer->showGridImage(true));
        EXPECT_EQ(-1, printer->showTestImage());
        EXPECT_EQ(-1, printer->showRectImage());
        EXPECT_EQ(-1, printer->showBlockImage());
        EXPECT_EQ(-1, grid.setCellValue(0, 0, 255));
        EXPECT_EQ(-1, grid.drawBlocks());
        EXPECT_EQ(-1, grid.showOnPanel());
        EXPECT_EQ(before, grid.cellsToText());
        // Refused before anything was built: nothing saved either.
        EXPECT_EQ(0, testsupport::entriesIn(rootPath("/media/sda1")));
    };

    // Exposures long enough that the print still runs while the calls above are refused.
    testwriters::QdsFileSpec busy = harness::qdsSpec(6);
    busy.general.bottomExposure = static_cast<uint16_t>(harness::kLongSeconds * 100); // 10 ms units
    busy.general.exposure = busy.general.bottomExposure;
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeQdsSpec("busy", busy))));
    ASSERT_TRUE(harness::waitForStatus(printer, PrintStatus::Printing));
    expectRefused();
    ASSERT_EQ(0, printer->pausePrint());
    ASSERT_TRUE(harness::waitForStatus(printer, PrintStatus::Paused));
    expectRefused();
    ASSERT_EQ(0, printer->abortPrint());
    ASSERT_TRUE(harness::waitUntilFinished(printer));

    EXPECT_EQ(0, printer->showRectImage());
    EXPECT_EQ(0, grid.setCellValue(0, 0, 255));
    EXPECT_EQ(255, harness::framePixel(0, 0));
    EXPECT_EQ(0, harness::framePixel(harness::kWidth - 1, 0));
}
