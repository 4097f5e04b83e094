// A layer whose render does not end: the print still ends, by abort or by
// its image time-out, and no later print waits behind the render.
#include "printer/PrinterHarness.h"

#include "base/RootPath.h"
#include "engine/PrintThread.h"
#include "support/TestSupport.h"
#include "support/writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FIFO without a writer: a render that opens it blocks until the test lets it go.
class BlockingImage
{
public:
    BlockingImage() : m_path(rootPath("/data/blocking.fifo")) { EXPECT_EQ(0, mkfifo(m_path.c_str(), 0600)); }
    ~BlockingImage() { release(); }
    const std::string& path() const { return m_path; }
    // Opens and closes the writing end: a blocked reader gets an end of file.
    void release()
    {
        const int fd = open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            close(fd);
    }

private:
    std::string m_path;
};

// Three layers; the second draws the image.
std::string writeHangingSvgx(const std::string& name, const std::string& image)
{
    testwriters::SvgxFileSpec spec;
    spec.printParams = testwriters::printParamsElement(testwriters::SvgxPrintParams(), 3);
    for (int n = 0; n < 3; ++n) {
        std::string body = "<path d=\"" + testwriters::squarePathData(-1, -1, 2) + "\"/>";
        if (n == 1)
            body += "<image xmlns:xlink=\"http://www.w3.org/1999/xlink\" x=\"0\" y=\"0\" width=\"4\" height=\"4\" "
                    "xlink:href=\"" + image + "\"/>";
        spec.layers.push_back("<g id=\"layer-" + std::to_string(n) + "\" fill=\"white\">\n" + body + "\n</g>");
    }
    const std::string path = "/data/" + name + ".svgx";
    testsupport::writeFile(rootPath(path), testwriters::buildSvgx(spec));
    return path;
}

bool waitForLayer(Printer* printer, int layer, int state)
{
    return testsupport::eventually(
        [&] { return printer->printThread()->currentLayer() == layer && printer->printThread()->state() == state; },
        30000, 100);
}

// Lets the render go; once it has ended the next print runs.
void releaseAndPrintAgain(Printer* printer, BlockingImage& image)
{
    image.release();
    ASSERT_TRUE(testsupport::eventually(
        [&] { return printer->print(QString::fromStdString(harness::writeSvgx("after", 1, 0, 0, 2, 2))) == 0; },
        20000, 1000));
    ASSERT_TRUE(harness::waitUntilFinished(printer, 20));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}

} // namespace

TEST(PrintHang, ARenderThatDoesNotEndHoldsNeitherThePrintNorTheNext)
{
    Printer* printer = harness::startPrinter();
    BlockingImage image;
    const QString path = QString::fromStdString(writeHangingSvgx("hang", image.path()));

    // Aborted while layer 1's render hangs.
    ASSERT_EQ(0, printer->print(path));
    ASSERT_TRUE(waitForLayer(printer, 1, waitSettle));
    ASSERT_EQ(0, printer->abortPrint());
    ASSERT_TRUE(harness::waitUntilFinished(printer, 20));
    EXPECT_EQ(nullptr, printer->getPrintExitValue());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    // No print starts while the old render still holds the panel.
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("blocked", 1, 0, 0, 2, 2))));
    EXPECT_EQ(1u, harness::logLines("still rendering; print refused").size());
    releaseAndPrintAgain(printer, image);

    // Left alone, the image wait (15 s of real time) runs out.
    harness::machine().board().display().clearTimeline();
    ASSERT_EQ(0, printer->print(path));
    ASSERT_TRUE(harness::waitUntilFinished(printer, 90));
    const char* exit = printer->getPrintExitValue();
    ASSERT_NE(nullptr, exit);
    EXPECT_STREQ("00020003", exit);
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
    releaseAndPrintAgain(printer, image);
}
