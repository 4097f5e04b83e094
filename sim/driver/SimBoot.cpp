#include "driver/SimBoot.h"

#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "board/GuiApplication.h"
#include "driver/EarlierPrint.h"
#include "driver/MachineFiles.h"
#include "driver/OutFiles.h"
#include "driver/SimOutput.h"
#include "driver/SliceFileCheck.h"
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
    // The slice file and the output folder are checked before anything is made or printed.
    const std::string input = options.file.empty() ? std::string() : inputFault(options.file);
    if (!input.empty()) {
        fprintf(stderr, "talviks-sim: %s\n", input.c_str());
        return false;
    }
    std::string outFault;
    if (!options.outDir.empty() && !prepareOutFolder(options.outDir, outFault)) {
        fprintf(stderr, "talviks-sim: --out: %s\n", outFault.c_str());
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
    // The output folder is this run's alone from here to the end; what a
    // killed run left set aside there is put back first.
    session.outDir = options.outDir.empty() ? rootPath("/sim-out") : options.outDir;
    if (options.outDir.empty() && !prepareOutFolder(session.outDir, outFault)) {
        fprintf(stderr, "talviks-sim: %s\n", outFault.c_str());
        return false;
    }
    if (!holdOutFolder(session.outDir, outFault)) {
        fprintf(stderr, "talviks-sim: %s%s\n", options.outDir.empty() ? "" : "--out: ", outFault.c_str());
        return false;
    }
    EarlierPrint::recoverLeftovers(session.outDir);
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
    // A stop is answered in real time at every speed: the rest of the run,
    // the engine's waits as on the board, takes machine time at the top speed.
    session.machine->clock().hurryOnTerminationSignals();

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
    return true;
}
