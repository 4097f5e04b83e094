// Callers on other threads while a print runs: status queries, a homing
// from the Z page, a reader of the last result. Each provokes its race many
// times; the print must come out as if it had been alone.
#include "engine/print/PrinterHarness.h"

#include "engine/print/PrintThread.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

// Releases every waiter at once.
class StartLine
{
public:
    explicit StartLine(int runners) : m_runners(runners) {}
    void arrive()
    {
        ++m_arrived;
        while (m_arrived.load() < m_runners)
            std::this_thread::yield();
    }

private:
    const int m_runners;
    std::atomic<int> m_arrived{0};
};

std::atomic<bool> g_inHomingClaim{false};
std::atomic<bool> g_printAnswered{false};

// Holds a homing between its check and its claim of the axis until the
// racing print has answered, or for a while: a print cannot answer while the
// claim holds the command lock, as it must.
void holdHomingClaimOpen()
{
    g_inHomingClaim = true;
    testsupport::eventually([] { return g_printAnswered.load(); }, 200);
}

} // namespace

// Reaches the printer's pause between a homing's check and its claim.
struct HomingClaimProbe
{
    explicit HomingClaimProbe(void (*pause)()) { BasePrinter::s_beforeHomingClaim = pause; }
    ~HomingClaimProbe() { BasePrinter::s_beforeHomingClaim = nullptr; }
    HomingClaimProbe(const HomingClaimProbe&) = delete;
    HomingClaimProbe& operator=(const HomingClaimProbe&) = delete;
};

TEST(PrinterThreads, StatusQueriesDuringAPrintLeaveTheLightAlone)
{
    // The light's state, its duty and the projector's versions may be asked
    // for at any time (a version page, the remote link); the print's light
    // commands go over the same bus meanwhile.
    Printer* printer = harness::startPrinter();
    constexpr unsigned kLayers = 30;
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("queried", kLayers, 0, 0, 1, 1))));
    ASSERT_TRUE(harness::waitForState(printer, waitSettle));
    // Until the last exposure: afterwards the projector is powered off and
    // every query fails.
    sim::DisplayControllerModel& display = harness::machine().board().display();
    std::atomic<bool> done{false};
    auto asking = [&] { return !done && display.exposures().size() < kLayers; };
    std::atomic<int> queries{0};
    std::vector<std::thread> pages;
    pages.emplace_back([&] {
        while (asking()) {
            printer->isLightOn();
            uint32_t duty = 0;
            printer->getLightDuty(&duty, nullptr, nullptr, nullptr);
            ++queries;
        }
    });
    pages.emplace_back([&] {
        while (asking()) {
            printer->printProjectorVersions(0);
            ++queries;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    const bool finished = harness::waitUntilFinished(printer);
    done = true;
    for (auto& page : pages)
        page.join();
    ASSERT_TRUE(finished);
    EXPECT_GT(queries.load(), 0);
    EXPECT_STREQ("0", printer->getPrintExitValue());
    const auto exposures = display.exposures();
    ASSERT_EQ(kLayers, exposures.size());
    for (const auto& exposure : exposures)
        EXPECT_FALSE(exposure.isOpen());
    EXPECT_FALSE(display.isLightOn());
}

TEST(PrinterThreads, AHomingAndAPrintNeverRunTogether)
{
    // The Z page homes while the remote link starts a print. Whichever comes
    // first has the machine; a print that runs says so and can be aborted.
    Printer* printer = harness::startPrinter();
    const QString path = QString::fromStdString(harness::writeSvgx("contested", 2, 0, 0, 1, 1));
    ASSERT_EQ(0, printer->startHoming(0, 0, true)); // the axis knows where it is
    // A homing that has passed its check holds it open until the print has
    // answered, so that a claim made apart from the check lets the print in.
    const HomingClaimProbe probe(holdHomingClaimOpen);
    int printsRun = 0;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(0, printer->moveWait(30.0f, false)); // a homing from up here takes a while
        g_inHomingClaim = false;
        g_printAnswered = false;
        StartLine start(2);
        std::atomic<bool> pageDone{false};
        int homed = 0;
        // Every third round the page comes a little later, so that prints
        // run on a host where the page's thread always wins the start.
        const auto late = std::chrono::milliseconds(round % 3 == 2 ? 20 * (round / 3 + 1) : 0);
        std::thread page([&] {
            start.arrive();
            std::this_thread::sleep_for(late);
            homed = printer->startHoming(0, 0, true);
            pageDone = true;
        });
        start.arrive();
        // Every third round the print comes while the homing is at its claim.
        if (round % 3 == 0)
            testsupport::eventually([] { return g_inHomingClaim.load(); });
        const int printed = printer->print(path);
        g_printAnswered = true;
        bool homingDuringPrint = false;
        bool notPrintingWhileRunning = false;
        if (printed == 0) {
            ++printsRun;
            PrintThread* thread = printer->printThread();
            const bool abort = round % 2 == 1;
            bool aborted = false;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!printer->isPrintFinished() && std::chrono::steady_clock::now() < end) {
                const PrintStatus status = printer->printStatus();
                if (thread->isRunning()) {
                    homingDuringPrint |= status == PrintStatus::Homing;
                    notPrintingWhileRunning |= status != PrintStatus::Printing && status != PrintStatus::Paused;
                }
                if (abort && !aborted && thread->currentLayer() >= 1) {
                    EXPECT_EQ(0, printer->abortPrint());
                    aborted = true;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            ASSERT_TRUE(printer->isPrintFinished());
            if (abort)
                EXPECT_EQ(nullptr, printer->getPrintExitValue());
            else
                EXPECT_STREQ("0", printer->getPrintExitValue());
        }
        page.join();
        EXPECT_FALSE(homingDuringPrint);
        EXPECT_FALSE(notPrintingWhileRunning);
        EXPECT_EQ(PrintStatus::Ready, printer->printStatus());
        EXPECT_TRUE(printed == 0 || homed == 0) << "neither the print nor the homing ran";
    }
    EXPECT_GT(printsRun, 0);
}

TEST(PrinterThreads, AResultReaderNeverWaitsForALaterPrint)
{
    Printer* printer = harness::startPrinter();
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("first", 1, 0, 0, 1, 1))));
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    // Another caller starts the next print before this one reads the result.
    ASSERT_EQ(0, printer->print(QString::fromStdString(harness::writeSvgx("later", 20, 0, 0, 1, 1))));
    std::atomic<bool> read{false};
    std::thread watchdog([&] {
        // A reader that waits for the later print would see it aborted.
        testsupport::eventually([&] { return read.load(); }, 3000);
        if (!read)
            printer->abortPrint();
    });
    const char* result = printer->getPrintExitValue();
    read = true;
    const bool laterStillRuns = printer->isPrinting();
    watchdog.join();
    ASSERT_NE(nullptr, result);
    EXPECT_STREQ("0", result);
    EXPECT_TRUE(laterStillRuns) << "the reader waited for the later print";

    ASSERT_EQ(0, printer->abortPrint());
    ASSERT_TRUE(harness::waitUntilFinished(printer));
    EXPECT_EQ(nullptr, printer->getPrintExitValue());
}
