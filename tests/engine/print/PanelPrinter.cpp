#include "engine/print/PanelPrinter.h"

#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "board/GuiApplication.h"
#include "board/SimMachine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace panel {

namespace {

sim::SimMachine* g_machine = nullptr;

} // namespace

Printer* startPrinter(int width, int height)
{
    sim::ensureGuiApplication();
    testsupport::makeDirs(rootPath("/data/var"));
    testsupport::makeDirs(rootPath("/data/etc"));
    LogWriter::instance()->init("/data/var", "TalvikS", 0, 64 << 20, 3, false);
    ConfigStore::instance()->load("/data/etc");
    PrinterConfig& machine = ConfigStore::instance()->m_printerConfig;
    machine.XRes = static_cast<uint32_t>(width);
    machine.YRes = static_cast<uint32_t>(height);
    machine.ImageChannel = 0;
    sim::SimMachine::Options options;
    options.speed = 50;
    options.frame.xres = machine.XRes;
    options.frame.yres = machine.YRes;
    g_machine = &sim::SimMachine::boot(options);
    Printer* printer = Printer::instance();
    EXPECT_EQ("", printer->initialize("", ""));
    return printer;
}

QImage frame()
{
    return g_machine->board().frameBuffer().frame();
}

} // namespace panel
