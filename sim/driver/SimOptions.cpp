#include "SimOptions.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool number(const char* text, double& value)
{
    char* end = nullptr;
    value = strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

bool whole(const char* text, int& value)
{
    double v = 0;
    if (!number(text, v) || v != std::floor(v) || v < 0 || v > 1e9)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

const char* simUsage()
{
    return "usage: talviks-sim [options] FILE.qds|FILE.svgx\n"
           "       talviks-sim --make-sample FILE.qds [--layers N]\n"
           "Prints a slice file on the simulated board. TALVIKS_ROOT names the scratch folder\n"
           "that stands for the board's file system.\n"
           "  --speed N          run the machine clock N times faster than real time (default 1)\n"
           "  --out DIR          where the frames and timeline.csv go (default <root>/sim-out)\n"
           "  --pause-at L       ask for a pause while layer L is made\n"
           "  --resume-after MS  hold that pause MS machine milliseconds (default 3000)\n"
           "  --abort-at L       abort while layer L is exposed\n"
           "  --signals MS       fire a timer signal every MS ms and beep at every exposure\n"
           "  --no-frames        write no PNG frames\n"
           "  --quiet            no progress line\n"
           "  --layers N         layers of the sample model (default 40)\n"
           "Exit status: 0 all layers made; 2 aborted; 5, 21, 22, 23 for the result codes\n"
           "00000005, 00020001, 00020002, 00020003; 1 when the print could not start.\n";
}

bool parseSimOptions(int argc, char** argv, SimOptions& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        if (!strcmp(arg, "--speed")) {
            if (!(v = value(arg)) || !number(v, o.speed) || o.speed < 0.01 || o.speed > 100000) {
                error = error.empty() ? "--speed takes a number from 0.01 to 100000" : error;
                return false;
            }
        } else if (!strcmp(arg, "--out")) {
            if (!(v = value(arg)))
                return false;
            o.outDir = v;
        } else if (!strcmp(arg, "--make-sample")) {
            if (!(v = value(arg)))
                return false;
            o.makeSample = v;
        } else if (!strcmp(arg, "--pause-at") || !strcmp(arg, "--abort-at") || !strcmp(arg, "--resume-after") ||
                   !strcmp(arg, "--signals") || !strcmp(arg, "--layers")) {
            int n = 0;
            if (!(v = value(arg)) || !whole(v, n)) {
                error = error.empty() ? std::string(arg) + " takes a whole number" : error;
                return false;
            }
            if (!strcmp(arg, "--pause-at"))
                o.pauseAt = n;
            else if (!strcmp(arg, "--abort-at"))
                o.abortAt = n;
            else if (!strcmp(arg, "--resume-after"))
                o.resumeAfterMs = n;
            else if (!strcmp(arg, "--layers"))
                o.sampleLayers = n;
            else
                o.signalEveryMs = n;
        } else if (!strcmp(arg, "--no-frames")) {
            o.frames = false;
        } else if (!strcmp(arg, "--quiet")) {
            o.quiet = true;
        } else if (arg[0] == '-') {
            error = std::string("unknown option ") + arg;
            return false;
        } else if (o.file.empty()) {
            o.file = arg;
        } else {
            error = "one slice file at a time";
            return false;
        }
    }
    if (o.file.empty() && o.makeSample.empty()) {
        error = "no slice file given";
        return false;
    }
    return true;
}
