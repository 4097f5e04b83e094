#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "board/PrinterBoard.h"
#include "engine/devices/MotorControl.h"
#include "engine/devices/PrinterMonitor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using testsupport::eventually;
using testsupport::monotonicMs;

namespace {


size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class PrinterMonitorTest : public ::testing::Test
{
protected:
    PrinterMonitorTest()
    {
        testsupport::makeDirs(rootPath("/data/var"));
        LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 20, 2, false);
    }
    std::string log() { return testsupport::readFile(rootPath("/data/var/TalvikS.log")); }

    sim::PrinterBoard printer;
    ScopedPlatform installed{&printer.board()};
};

} // namespace

TEST_F(PrinterMonitorTest, DoorChangesAreLoggedOnce)
{
    printer.setDoorClosed(false);
    {
        PrinterMonitor monitor;
        monitor.addMonitor(Door, 1);
        ASSERT_EQ(0, monitor.start());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(monitor.isDoorInputLow());
        printer.setDoorClosed(true);
        ASSERT_TRUE(eventually([&] { return !monitor.isDoorInputLow(); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string text = log();
    EXPECT_EQ(1u, count(text, "Door Status: 1"));
    EXPECT_EQ(0u, count(text, "Door Status: 0"));
    EXPECT_EQ(1u, count(text, "Add Monitor (2)"));
    EXPECT_EQ(1u, count(text, "Ended PrinterMonitor"));
    EXPECT_EQ(1u, count(text, "Leave PrinterMonitor"));
}

TEST_F(PrinterMonitorTest, AuxAndLimitAreSampled)
{
    MotorControl motor; // claims the limit line
    PrinterMonitor monitor(&motor);
    EXPECT_EQ(8, monitor.limitValue());
    monitor.addMonitor(AuxInput, 1);
    monitor.addMonitor(ZLimit, 2);
    EXPECT_EQ(1, monitor.limitValue()); // the plate stands above the switch
    EXPECT_FALSE(monitor.getAuxInput());
    ASSERT_EQ(0, monitor.start());
    printer.setAuxInput(1);
    printer.motor().placeAxis(0);
    EXPECT_TRUE(eventually([&] { return monitor.getAuxInput() && monitor.limitValue() == 0; }));
    EXPECT_TRUE(eventually([&] { return count(log(), "Limit Status: On , And Remove Motor Timer") == 1; }));
    monitor.removeMonitor(AuxInput);
    EXPECT_FALSE(monitor.getAuxInput());
    EXPECT_FALSE(printer.gpio().isExported(sim::PrinterBoard::kAuxLine));
}

TEST_F(PrinterMonitorTest, UnknownTypesArePrintedAndStillLogged)
{
    PrinterMonitor monitor;
    testing::internal::CaptureStdout();
    monitor.addMonitor(3, 10);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("Invalid Printer Monitor Type!"));
    EXPECT_EQ(1u, count(log(), "Add Monitor (3)"));
}

TEST_F(PrinterMonitorTest, DestroyedPromptly)
{
    // A door sampled once a minute: its thread still ends within a pass,
    // long before the next sample, however busy the host.
    auto monitor = std::make_unique<PrinterMonitor>();
    monitor->addMonitor(Door, 60000);
    ASSERT_EQ(0, monitor->start());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const long long start = monotonicMs();
    monitor.reset();
    EXPECT_LT(monotonicMs() - start, 10000);
}
