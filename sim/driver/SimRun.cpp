#include "driver/SimRun.h"

#include "base/Clock.h"
#include "base/PTimer.h"
#include "base/PathManager.h"
#include "base/RootPath.h"
#include "driver/SimOutput.h"
#include "engine/devices/Buzzer.h"
#include "engine/print/PrintThread.h"
#include "engine/print/Printer.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

std::atomic<int> g_signals{0};

void countSignal(int)
{
    g_signals.fetch_add(1, std::memory_order_relaxed);
}

int64_t machineNs()
{
    return timespecToNs(Clock::instance().now());
}

std::string clockText(double seconds)
{
    const long s = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[32];
    snprintf(text, sizeof text, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// Copies the slice file into the machine's model folder, as the pages do
// before a print; its board path.
std::string stageFile(const std::string& hostPath)
{
    namespace fs = std::filesystem;
    const std::string board = PathManager::instance()->get(PATH_MODEL).toStdString() + "/" +
                              fs::path(hostPath).filename().string();
    fs::copy_file(hostPath, rootPath(board), fs::copy_options::overwrite_existing);
    return board;
}

} // namespace

bool runPrint(const SimOptions& options, SimSession& session, PrintRecorder& recorder, PrintOutcome& outcome)
{
    Printer* printer = session.printer;
    sim::SimMachine& machine = *session.machine;
    std::string boardFile;
    try {
        boardFile = stageFile(options.file);
    } catch (const std::exception& e) {
        fprintf(stderr, "talviks-sim: %s\n", e.what());
        return false;
    }

    PTimer noise;
    if (options.signalEveryMs > 0) {
        noise.setCallback(countSignal);
        noise.setSingleShot(false);
        noise.create(PTimer::SignalMode);
        noise.start(options.signalEveryMs);
    }

    const int started = printer->print(QString::fromStdString(boardFile));
    if (started != 0) {
        fprintf(stderr, "talviks-sim: the printer refused %s (%d); see %s\n", boardFile.c_str(), started,
                rootPath("/data/var/TalvikS.log").c_str());
        return false;
    }

    FILE* out = simOut();
    bool pauseAsked = false;
    int64_t resumeAtNs = -1;
    size_t beeped = 0;
    auto lastProgress = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    const bool tty = isatty(fileno(out));
    int shownLayer = -1;
    while (!printer->isPrintFinished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        PrintThread* thread = printer->printThread();
        const int layer = thread->currentLayer();
        if (options.pauseAt >= 0 && !pauseAsked && layer >= options.pauseAt &&
            printer->printStatus() == PrintStatus::Printing) {
            pauseAsked = printer->pausePrint() == 0;
        }
        if (printer->printStatus() == PrintStatus::Paused && thread->state() == PauseWait) {
            if (resumeAtNs < 0)
                resumeAtNs = machineNs() + int64_t(options.resumeAfterMs) * 1000000;
            else if (machineNs() >= resumeAtNs && printer->resumePrint() == 0)
                resumeAtNs = -1;
        }
        if (options.abortAt >= 0 && outcome.abortAtNs < 0 && layer == options.abortAt &&
            thread->state() == waitExpose && machine.board().display().isLightOn()) {
            outcome.abortAtNs = machineNs();
            printer->abortPrint();
        }
        if (options.signalEveryMs > 0) {
            const size_t exposures = recorder.exposures().size();
            if (exposures > beeped) {
                Buzzer::instance()->beepShort();
                beeped = exposures;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        // On a terminal the line is refreshed twice a second; elsewhere once a layer.
        if (!options.quiet && now - lastProgress >= std::chrono::milliseconds(500) && (tty || layer != shownLayer)) {
            lastProgress = now;
            shownLayer = layer;
            const PrintInfo info = printer->getPrintInfo();
            float z = 0;
            printer->getPosition(z);
            fprintf(out, "%slayer %d/%d  Z %7.3f mm  elapsed %s  remaining %s%s", tty ? "\r" : "",
                    info.currentLayer + 1, info.layerCount, static_cast<double>(z),
                    clockText(info.elapsedTime).c_str(), clockText(info.remainingTime).c_str(), tty ? "   " : "\n");
            fflush(out);
        }
    }
    if (!options.quiet && tty)
        fprintf(out, "\n");
    outcome.exit = printer->getPrintExitValue();
    recorder.finish();
    noise.stop();
    outcome.timerSignals = g_signals.load();
    return true;
}
