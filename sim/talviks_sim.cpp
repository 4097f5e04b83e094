// Prints a slice file on the simulated board: boots the engine under a
// scratch root, runs the print (with an optional pause, resume or abort),
// writes every exposed frame and a timeline, and exits with the result.
// Or projects a test pattern or a mask grid and writes that frame.
#include "base/config/ConfigStore.h"
#include "base/platform/ProcessSignals.h"
#include "driver/MachineFiles.h"
#include "driver/PrintRecorder.h"
#include "driver/SampleModel.h"
#include "driver/ServiceImages.h"
#include "driver/SimBoot.h"
#include "driver/SimOptions.h"
#include "driver/SimOutput.h"
#include "driver/SimReport.h"
#include "driver/SimRun.h"
#include "engine/print/Printer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    ignoreBrokenPipes();
    // SVG layers are drawn by the layer renderer of this build, unless told otherwise.
    setenv("TALVIKS_LAYER_RENDERER", TALVIKS_SIM_LAYER_RENDERER, 0);
    SimOptions options;
    std::string error;
    for (int i = 1; i < argc; ++i)
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(simUsage(), stdout);
            return 0;
        }
    if (!parseSimOptions(argc, argv, options, error)) {
        // The cause stays on the screen; the usage is one option away.
        fprintf(stderr, "talviks-sim: %s\nTry 'talviks-sim --help' for more.\n", error.c_str());
        return 1;
    }
    if (options.writesFile()) {
        PrinterConfig machine;
        applyResolution(options, machine);
        const int width = static_cast<int>(machine.XRes), height = static_cast<int>(machine.YRes);
        const bool sample = !options.makeSample.empty();
        const std::string& path = sample ? options.makeSample : options.makeCorrection;
        if (const int error = sample ? writeSampleModel(path, width, height, options.sampleLayers)
                                     : writeCorrectionSample(path, width, height)) {
            fprintf(stderr, "talviks-sim: cannot write %s: %s\n", path.c_str(), strerror(error));
            return 1;
        }
        printf("%s written: %s\n", sample ? "Sample model" : "Correction file", path.c_str());
        return 0;
    }
    // Before the engine's threads: SIGTERM, SIGINT and SIGHUP are taken by
    // the printer, which stops the machine safely before anything ends.
    catchTerminationSignals();
    SimSession session;
    if (!bootSimulator(options, session))
        return 1;
    if (options.showsServiceImage()) {
        session.printer->stopOnSignals();
        return showServiceImage(options, *session.printer, *session.machine, session.outDir);
    }
    // A print stopped by a signal ends as an abort does, with its summary.
    session.printer->stopOnSignals(Printer::AfterSignal::ReturnToProgram);

    PrintRecorder recorder(*session.machine, *session.printer->printThread(), session.outDir, options.frames);
    PrintOutcome outcome;
    if (!runPrint(options, session, recorder, outcome)) {
        const int signal = session.printer->endProcessOnSignals();
        return signal ? 128 + signal : 1;
    }
    const int status = reportPrint(options, session, recorder, outcome);
    // A signal from here on ends the process by itself; one that came during
    // the report is told here.
    const int signal = session.printer->endProcessOnSignals();
    if (!signal)
        return status;
    fprintf(simOut(), "Stopped by signal %d (%s)%s\n", signal, strsignal(signal),
            outcome.exit ? " after the print had ended" : ": the print ended as an abort");
    return 128 + signal;
}
