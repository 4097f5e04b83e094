#include "board/GuiApplication.h"

#include <QGuiApplication>

// fontconfig, started by the platform plugin, keeps a cache until exit;
// the leak checker is not to blame the process for it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace sim {

void ensureGuiApplication()
{
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "talviks";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

} // namespace sim
