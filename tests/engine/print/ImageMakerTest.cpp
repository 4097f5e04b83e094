// The image thread's hand-over to the print thread, without a print.
#include "engine/print/PrinterHarness.h"

#include "engine/print/ImageMaker.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(ImageMaker, HandOversThatDoNotComeEndTheWaitInTime)
{
    Printer* printer = harness::startPrinter();
    ImageMaker maker(printer, nullptr, -1);
    ASSERT_EQ(0, maker.start());
    PrintWorkPara para;
    para.model.layerHeight = 0.1f;
    // Nothing asked for: nothing comes, and the wait ends.
    EXPECT_EQ(ImageMaker::Params::Missing, maker.takeLayerParams(0, 100, para));

    // With no file open the layer is read as one without parameters, and its
    // image fails at once rather than at the end of the wait.
    maker.requestImage();
    const long long start = testsupport::monotonicMs();
    EXPECT_EQ(0, maker.waitFinished(60000));
    EXPECT_LT(testsupport::monotonicMs() - start, 30000);
    EXPECT_TRUE(maker.imageFailed());
    EXPECT_EQ(ImageMaker::Params::Unchanged, maker.takeLayerParams(0, 100, para));
    EXPECT_FLOAT_EQ(0.1f, para.model.layerHeight);

    // An abort wakes the wait for good.
    maker.interruptWait();
    EXPECT_EQ(ImageMaker::Params::Missing, maker.takeLayerParams(1, 60000, para));
    EXPECT_EQ(0, maker.waitFinished(60000));
    EXPECT_TRUE(maker.stopWithin(10000));
}
