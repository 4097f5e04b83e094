// The one road from the printer to an FPGA link: its version query.
#include "engine/print/PrinterHarness.h"

#include <gtest/gtest.h>

TEST(PrinterFpga, NoLinkAnswersErr)
{
    Printer* printer = harness::startPrinter();
    std::string text = "unchanged";
    EXPECT_EQ(0, printer->getFpgaVersion(text));
    EXPECT_EQ("ERR", text);
}
