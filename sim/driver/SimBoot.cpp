#include "driver/SimBoot.h"

#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "board/GuiApplication.h"
#include "driver/MachineFiles.h"
#include "driver/SimOutput.h"
#include "engine/print/Printer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

bool bootSimulator(const SimOptions& options, SimSession& session)
{
    if (rootPrefix().empty()) {
        fprintf(stderr, "talviks-sim: set TALVIKS_ROOT to a scratch folder; it stands for the board's /\n");
        return false;
    }
    // A root that does not exist yet is made, as the demonstration does.
    std::error_code madeRoot;
    std::filesystem::create_directories(rootPrefix(), madeRoot);
    if (madeRoot) {
        fprintf(stderr, "talviks-sim: cannot make the scratch root %s: %s\n", rootPrefix().c_str(),
                madeRoot.message().c_str());
        return false;
    }
    session.tracePath = rootPath("/engine-traces.txt");
    if (!divertEngineTraces(session.tracePath))
        return false;
    // Qt wants a private runtime folder; one under the scratch root keeps it
    // from complaining on the simulator's terminal.
    if (!getenv("XDG_RUNTIME_DIR")) {
        const std::string runtime = rootPath("/run/talviks-sim");
        std::error_code made;
        std::filesystem::create_directories(runtime, made);
        chmod(runtime.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
    }
    sim::ensureGuiApplication();

    PathManager* paths = PathManager::instance();
    ConfigStore* config = ConfigStore::instance();
    config->load(paths->get(PATH_CONFIG).toStdString());
    try {
        // The timeline reads the exposure lines, written at the information level.
        logger()->init(paths->get(PATH_LOG).toStdString(), "TalvikS", std::min<int>(config->m_general.LogLevel, LogInfo),
                       0x500000, 15, false);
    } catch (const std::exception& e) {
        fprintf(stderr, "talviks-sim: %s\n", e.what());
        return false;
    }

    PrinterConfig& machineConfig = config->m_printerConfig;
    applyResolution(options, machineConfig);
    QString maskPath, correctionPath;
    if (!stageMachineFiles(options, machineConfig, maskPath, correctionPath))
        return false;
    sim::SimMachine::Options machineOptions;
    machineOptions.speed = options.speed;
    machineOptions.frame.xres = machineConfig.XRes;
    machineOptions.frame.yres = machineConfig.YRes;
    session.machine = &sim::SimMachine::boot(machineOptions);

    try {
        session.printer = Printer::instance();
    } catch (const std::exception& e) {
        fprintf(stderr, "talviks-sim: no printer: %s\n", e.what());
        return false;
    }
    const std::string code = session.printer->initialize(maskPath, correctionPath);
    if (!code.empty()) {
        fprintf(stderr, "talviks-sim: printer initialisation failed: %s\n", code.c_str());
        return false;
    }

    session.outDir = options.outDir.empty() ? rootPath("/sim-out") : options.outDir;
    std::error_code made;
    std::filesystem::create_directories(session.outDir, made);
    return true;
}
