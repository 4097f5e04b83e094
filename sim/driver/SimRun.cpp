#include "driver/SimRun.h"

#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/log/RootPath.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "base/threads/PTimer.h"
#include "driver/EarlierPrint.h"
#include "driver/MachineFiles.h"
#include "driver/Progress.h"
#include "driver/SimOutput.h"
#include "driver/SliceFileCheck.h"
#include "engine/devices/Buzzer.h"
#include "engine/print/PrintThread.h"
#include "engine/print/Printer.h"
#include "engine/projection/ProjectView.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

namespace {

std::atomic<int> g_signals{0};

void countSignal(int)
{
    g_signals.fetch_add(1, std::memory_order_relaxed);
}

int64_t machineNs()
{
    return timespecToNs(platform().clock().now());
}

// Copies the slice file into the machine's model folder, as the pages do
// before a print; its board path, or empty with the cause on stderr.
std::string stageFile(const std::string& hostPath)
{
    const std::string board = PathManager::instance()->get(PATH_MODEL).toStdString() + "/" +
                              std::filesystem::path(hostPath).filename().string();
    return copyIntoRoot(hostPath, board) ? board : std::string();
}

// The printer's refusal of the slice file, in words.
void sayRefused(const std::string& hostPath, const std::string& boardFile, int code)
{
    const PrinterConfig& machine = ConfigStore::instance()->m_printerConfig;
    const std::string cause = refusalCause(boardFile, int(machine.XRes), int(machine.YRes));
    if (!cause.empty())
        fprintf(stderr, "talviks-sim: the printer refused %s: %s\n", hostPath.c_str(), cause.c_str());
    else
        fprintf(stderr, "talviks-sim: the printer refused %s (%d); see %s\n", hostPath.c_str(), code,
                rootPath("/data/var/TalvikS.log").c_str());
}

} // namespace

bool runPrint(const SimOptions& options, SimSession& session, PrintRecorder& recorder, PrintOutcome& outcome)
{
    Printer* printer = session.printer;
    sim::SimMachine& machine = *session.machine;
    const std::string boardFile = stageFile(options.file);
    if (boardFile.empty())
        return false;
    outcome.boardFile = boardFile;
    // The engine counts fewer layers than such a file declares.
    if (const std::string count = layerCountFault(boardFile); !count.empty()) {
        fprintf(stderr, "talviks-sim: cannot print %s: %s\n", options.file.c_str(), count.c_str());
        return false;
    }
    // The frames and the timeline in the folder are to be this print's only;
    // an earlier print's are put back should the printer refuse the file.
    EarlierPrint earlier;
    std::string fault;
    if (!earlier.setAside(session.outDir, fault)) {
        fprintf(stderr, "talviks-sim: %s\n", fault.c_str());
        return false;
    }

    PTimer noise;
    if (options.signalEveryMs > 0) {
        noise.setCallback(countSignal);
        noise.setSingleShot(false);
        noise.create(PTimer::SignalMode);
        noise.start(options.signalEveryMs);
    }

    // Tests stall the axis from the start, as a jammed plate would.
    if (getenv("TALVIKS_SIM_TEST_STALL"))
        machine.board().motor().setStall(true);
    const int started = printer->print(QString::fromStdString(boardFile));
    if (started != 0 && printer->stopSignal()) {
        fprintf(stderr, "talviks-sim: signal %d (%s) came before the print began\n", printer->stopSignal(),
                strsignal(printer->stopSignal()));
        return false;
    }
    if (started != 0) {
        sayRefused(options.file, boardFile, started);
        return false;
    }
    if (!earlier.remove(fault))
        fprintf(stderr, "talviks-sim: %s\n", fault.c_str());

    const int layers = printer->getPrintInfo().layerCount;
    Progress progress(simOut(), options.quiet, printer->getPrintInfo());
    for (const auto& [name, layer] : {std::pair<const char*, int>{"--pause-at", options.pauseAt},
                                      std::pair<const char*, int>{"--abort-at", options.abortAt}})
        if (layer > layers)
            progress.warn("%s %d: the print has %d layers; no layer %d", name, layer, layers, layer);
    // Tests hold this thread back once, as a busy machine may: "LAYER:MS"
    // holds it MS of real time once layer LAYER (from 1) was exposed.
    int holdAfterLayer = -1, holdMs = 0;
    if (const char* hold = getenv("TALVIKS_SIM_TEST_HOLD_PROGRESS"))
        sscanf(hold, "%d:%d", &holdAfterLayer, &holdMs);

    bool pauseAsked = false;
    int64_t resumeAtNs = -1;
    size_t beeped = 0;
    while (!printer->isPrintFinished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        PrintThread* thread = printer->printThread();
        const int layer = thread->currentLayer() + 1; // from 1, as the user counts
        if (options.pauseAt > 0 && !pauseAsked && layer >= options.pauseAt &&
            printer->printStatus() == PrintStatus::Printing) {
            pauseAsked = printer->pausePrint() == 0;
            if (pauseAsked)
                progress.note("Pause asked during layer %d: the print pauses after it", layer);
        }
        if (printer->printStatus() == PrintStatus::Paused && thread->state() == PauseWait) {
            if (resumeAtNs < 0) {
                resumeAtNs = machineNs() + int64_t(options.resumeAfterMs) * 1000000;
                float z = 0;
                printer->getPosition(z);
                progress.note("Paused after layer %d at Z %.3f mm; resuming in %.1f s", layer - 1,
                              static_cast<double>(z), options.resumeAfterMs / 1000.0);
            } else if (machineNs() >= resumeAtNs && printer->resumePrint() == 0) {
                resumeAtNs = -1;
                if (layer <= layers)
                    progress.note("Resumed: back to the working height for layer %d", layer);
                else
                    progress.note("Resumed after the last layer: the print ends");
            }
        }
        if (options.abortAt > 0 && outcome.abortAtNs < 0 && layer == options.abortAt &&
            thread->state() == waitExpose && machine.board().display().isLightOn()) {
            outcome.abortAtNs = machineNs();
            printer->abortPrint();
            progress.note("Abort asked during the exposure of layer %d", layer);
        }
        if (options.signalEveryMs > 0) {
            const size_t exposures = recorder.exposures();
            if (exposures > beeped) {
                Buzzer::instance()->beepShort();
                beeped = exposures;
            }
        }
        int exposed = -1;
        double plateMm = 0;
        if (holdAfterLayer > 0 && recorder.lastExposure(exposed, plateMm) && exposed + 1 >= holdAfterLayer) {
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            holdAfterLayer = -1;
        }
        progress.update(*printer, recorder);
    }
    outcome.exit = printer->getPrintExitValue();
    outcome.layerFailure = printer->projectView()->layerFailure();
    progress.finish(recorder);
    recorder.finish();
    noise.stop();
    outcome.timerSignals = g_signals.load();
    // Read once every frame is written: a signal until then is this print's.
    outcome.stopSignal = printer->stopSignal();
    if (!outcome.exit && outcome.stopSignal)
        progress.note("Aborted by signal %d (%s)", outcome.stopSignal, strsignal(outcome.stopSignal));
    else if (!outcome.exit)
        progress.note("Aborted");
    progress.end();
    return true;
}
