// An image thread that does not come back: the print still ends, by abort or
// by its image time-out, and no later print waits behind it. The hang is a
// USB disk whose copy of a shown frame never completes (a FIFO in place of
// the frame's file): the image thread blocks there while it holds the panel.
#include "engine/print/PrinterHarness.h"

#include "base/config/SystemState.h"
#include "base/log/RootPath.h"
#include "engine/print/PrintThread.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

const char* const kUsb = "/media/sda1";

std::string framePath(int number)
{
    return rootPath(std::string(kUsb) + "/printTest/" + std::to_string(number) + ".png");
}

// The highest frame number saved on the disk so far.
int lastSavedFrame()
{
    int last = -1;
    DIR* dir = opendir(rootPath(std::string(kUsb) + "/printTest").c_str());
    if (!dir)
        return last;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            last = std::max(last, atoi(entry->d_name));
    closedir(dir);
    return last;
}

// A frame file that blocks its writer until the test reads it.
class BlockingFrame
{
public:
    explicit BlockingFrame(int number) : m_path(framePath(number)) { EXPECT_EQ(0, mkfifo(m_path.c_str(), 0600)); }
    // Reads what the blocked writer writes, to its end; never closes early
    // (the writer would get SIGPIPE).
    void release()
    {
        const int fd = open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        bool gotData = false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 50);
            char buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0)
                gotData = true;
            else if (n == 0 && gotData)
                break; // the writer has closed
        }
        close(fd);
        EXPECT_TRUE(gotData);
    }

private:
    std::string m_path;
};

std::string writeThreeLayers(const std::string& name)
{
    return harness::writeSvgx(name, 3, 0, 0, 2, 2);
}

bool waitForLayer(Printer* printer, int layer, int state)
{
    return testsupport::eventually(
        [&] { return printer->printThread()->currentLayer() == layer && printer->printThread()->state() == state; },
        30000, 100);
}

// Lets the image thread go; once it has ended the next print runs.
void releaseAndPrintAgain(Printer* printer, BlockingFrame& frame)
{
    frame.release();
    ASSERT_TRUE(testsupport::eventually(
        [&] { return printer->print(QString::fromStdString(harness::writeSvgx("after", 1, 0, 0, 2, 2))) == 0; },
        20000, 1000));
    ASSERT_TRUE(harness::waitUntilFinished(printer, 20));
    EXPECT_STREQ("0", printer->getPrintExitValue());
}

} // namespace

TEST(PrintHang, AnImageThreadThatDoesNotReturnHoldsNeitherThePrintNorTheNext)
{
    Printer* printer = harness::startPrinter();
    testsupport::makeDirs(rootPath(std::string(kUsb) + "/printTest"));
    SystemState::instance()->setUsbPath(kUsb);
    // A first print tells which frame numbers the next layers get.
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("probe", 1, 0, 0, 2, 2))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    const int probe = lastSavedFrame();
    ASSERT_GE(probe, 0);

    // Aborted while layer 1's frame copy hangs.
    BlockingFrame first(probe + 2);
    ASSERT_EQ(0, printer->print(QString::fromStdString(writeThreeLayers("aborted"))));
    ASSERT_TRUE(waitForLayer(printer, 1, waitSettle));
    ASSERT_EQ(0, printer->abortPrint());
    ASSERT_TRUE(harness::waitUntilFinished(printer, 20));
    EXPECT_EQ(nullptr, printer->getPrintExitValue());
    EXPECT_FALSE(harness::machine().board().display().isLightOn());
    EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
    // No print starts while the old image thread still holds the panel.
    EXPECT_EQ(-1, printer->print(QString::fromStdString(harness::writeSvgx("blocked", 1, 0, 0, 2, 2))));
    EXPECT_EQ(1u, harness::logLines("still rendering; print refused").size());
    releaseAndPrintAgain(printer, first); // frame probe + 3

    // Left alone, the image wait (15 s of real time) runs out.
    BlockingFrame second(probe + 5);
    harness::machine().board().display().clearTimeline();
    ASSERT_EQ(0, printer->print(QString::fromStdString(writeThreeLayers("timed-out"))));
    ASSERT_TRUE(harness::waitUntilFinished(printer, 90));
    const char* exit = printer->getPrintExitValue();
    ASSERT_NE(nullptr, exit);
    EXPECT_STREQ("00020003", exit);
    EXPECT_EQ(1u, harness::logLines("Make Image Timeout").size());
    EXPECT_EQ(1u, harness::machine().board().display().exposures().size());
    releaseAndPrintAgain(printer, second);
}
