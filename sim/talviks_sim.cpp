// Prints a slice file on the simulated board: boots the engine under a
// scratch root, runs the print (with an optional pause, resume or abort),
// writes every exposed frame and a timeline, and exits with the result.
// Or projects a test pattern or a mask grid and writes that frame.
#include "base/ConfigStore.h"
#include "base/LogWriter.h"
#include "base/PTimer.h"
#include "base/PathManager.h"
#include "base/ProcessSignals.h"
#include "base/RootPath.h"
#include "board/GuiApplication.h"
#include "board/SimMachine.h"
#include "driver/PrintRecorder.h"
#include "driver/SampleModel.h"
#include "driver/ServiceImages.h"
#include "driver/SimOptions.h"
#include "driver/Timeline.h"
#include "engine/devices/Buzzer.h"
#include "engine/print/PrintThread.h"
#include "engine/print/Printer.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
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

int exitStatus(const char* code)
{
    if (!code)
        return 2; // aborted
    const std::string value = code;
    if (value == "0")
        return 0;
    if (value == PrinterError::Memory)
        return 5;
    if (value == PrinterError::Light)
        return 21;
    if (value == PrinterError::Motor)
        return 22;
    if (value == PrinterError::ImageTimeout)
        return 23;
    return 1;
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

int main(int argc, char** argv)
{
    ignoreBrokenPipes();
    SimOptions options;
    std::string error;
    for (int i = 1; i < argc; ++i)
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(simUsage(), stdout);
            return 0;
        }
    if (!parseSimOptions(argc, argv, options, error)) {
        fprintf(stderr, "talviks-sim: %s\n%s", error.c_str(), simUsage());
        return 1;
    }
    if (!options.makeSample.empty()) {
        const PrinterConfig machine;
        if (writeSampleModel(options.makeSample, static_cast<int>(machine.XRes), static_cast<int>(machine.YRes),
                             options.sampleLayers) != 0) {
            fprintf(stderr, "talviks-sim: cannot write %s\n", options.makeSample.c_str());
            return 1;
        }
        printf("Sample model written: %s\n", options.makeSample.c_str());
        return 0;
    }
    if (rootPrefix().empty()) {
        fprintf(stderr, "talviks-sim: set TALVIKS_ROOT to a scratch folder; it stands for the board's /\n");
        return 1;
    }
    sim::ensureGuiApplication();

    // Start-up as on the board: paths, configuration, log.
    PathManager* paths = PathManager::instance();
    ConfigStore* config = ConfigStore::instance();
    config->load(paths->get(PATH_CONFIG).toStdString());
    try {
        // The timeline reads the exposure lines, written at level 1.
        logger()->init(paths->get(PATH_LOG).toStdString(), "TalvikS",
                                    std::min(config->m_general.LogLevel, 1), 0x500000, 15, false);
    } catch (const std::exception& e) {
        fprintf(stderr, "talviks-sim: %s\n", e.what());
        return 1;
    }

    const PrinterConfig& machineConfig = config->m_printerConfig;
    sim::SimMachine::Options machineOptions;
    machineOptions.speed = options.speed;
    machineOptions.frame.xres = machineConfig.XRes;
    machineOptions.frame.yres = machineConfig.YRes;
    sim::SimMachine& machine = sim::SimMachine::boot(machineOptions);

    Printer* printer = nullptr;
    try {
        printer = Printer::instance();
    } catch (const std::exception& e) {
        fprintf(stderr, "talviks-sim: no printer: %s\n", e.what());
        return 1;
    }
    const std::string code = printer->initialize("", "");
    if (!code.empty()) {
        fprintf(stderr, "talviks-sim: printer initialisation failed: %s\n", code.c_str());
        return 1;
    }

    const std::string outDir = options.outDir.empty() ? rootPath("/sim-out") : options.outDir;
    std::error_code made;
    std::filesystem::create_directories(outDir, made);
    if (options.showsServiceImage())
        return showServiceImage(options, *printer, machine, outDir);

    std::string boardFile;
    try {
        boardFile = stageFile(options.file);
    } catch (const std::exception& e) {
        fprintf(stderr, "talviks-sim: %s\n", e.what());
        return 1;
    }

    PTimer noise;
    if (options.signalEveryMs > 0) {
        noise.setCallback(countSignal);
        noise.setSingleShot(false);
        noise.create(PTimer::SignalMode);
        noise.start(options.signalEveryMs);
    }

    PrintRecorder recorder(machine, outDir, options.frames);
    const int started = printer->print(QString::fromStdString(boardFile));
    if (started != 0) {
        fprintf(stderr, "talviks-sim: the printer refused %s (%d); see %s\n", boardFile.c_str(), started,
                rootPath("/data/var/TalvikS.log").c_str());
        return 1;
    }

    bool pauseAsked = false;
    int64_t resumeAtNs = -1;
    int64_t abortAtNs = -1;
    size_t beeped = 0;
    auto lastProgress = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    const bool tty = isatty(STDOUT_FILENO);
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
        if (options.abortAt >= 0 && abortAtNs < 0 && layer == options.abortAt && thread->state() == waitExpose &&
            machine.board().display().isLightOn()) {
            abortAtNs = machineNs();
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
            printf("%slayer %d/%d  Z %7.3f mm  elapsed %s  remaining %s%s", tty ? "\r" : "", info.currentLayer + 1,
                   info.layerCount, static_cast<double>(z), clockText(info.elapsedTime).c_str(),
                   clockText(info.remainingTime).c_str(), tty ? "   " : "\n");
            fflush(stdout);
        }
    }
    if (!options.quiet && tty)
        printf("\n");
    const char* exit = printer->getPrintExitValue();
    recorder.finish();
    noise.stop();

    const std::string timelinePath = outDir + "/timeline.csv";
    const Timeline timeline = buildTimeline(recorder.exposures(), rootPath("/data/var/TalvikS.log"));
    writeTimelineCsv(timeline, timelinePath);
    printf("Result: %s\n", exit ? exit : "aborted (no result)");
    if (options.speed != 1.0)
        printf("Times below are machine time; the machine clock ran %g times faster than real time.\n", options.speed);
    printTimelineSummary(timeline, exit == nullptr, stdout);
    if (abortAtNs >= 0) {
        const int64_t off = recorder.lightOffAfter(abortAtNs);
        if (off >= 0)
            printf("Abort to light off: %.2f ms (machine time)\n", (off - abortAtNs) / 1e6);
    }
    if (options.signalEveryMs > 0)
        printf("Timer signals during the print: %d\n", g_signals.load());
    printf("Frames: %s\nTimeline: %s\nLog: %s\n", options.frames ? outDir.c_str() : "(not written)",
           timelinePath.c_str(), rootPath("/data/var/TalvikS.log").c_str());
    return exitStatus(exit);
}
