#include "driver/SimOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

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

const char* const kPatterns[] = {"gridline", "abc", "abc-inverse", "stripe", "midpoint", "blocks", "dots", "gray"};

// Bounds of what can be meant. A service grid past 64 x 64 cells is no
// longer read by eye, and its levels fill pages.
constexpr int kMaxGridSide = 64;
// 100 mm of the sample's 0.05 mm layers, made in seconds.
constexpr int kMaxSampleLayers = 2000;
constexpr int kMaxSignalEveryMs = 60000;
constexpr int kMaxResumeAfterMs = 3600 * 1000;

// "CxR" with both from 1 to kMaxGridSide.
bool gridSize(const char* text, int& columns, int& rows)
{
    char tail = 0;
    return sscanf(text, "%dx%d%c", &columns, &rows, &tail) == 2 && columns >= 1 && rows >= 1 &&
           columns <= kMaxGridSide && rows <= kMaxGridSide;
}

// The whole-number options: their field and bounds.
struct WholeOption
{
    const char* name;
    int SimOptions::*field;
    int low, high;
    const char* unit; // as the refusal names the values
};

const WholeOption* wholeOption(const char* arg)
{
    static const WholeOption options[] = {
        {"--pause-at", &SimOptions::pauseAt, 1, 1000000000, "a layer from 1 (layers are counted from 1)"},
        {"--abort-at", &SimOptions::abortAt, 1, 1000000000, "a layer from 1 (layers are counted from 1)"},
        {"--resume-after", &SimOptions::resumeAfterMs, 0, kMaxResumeAfterMs, "machine milliseconds from 0 to 3600000"},
        {"--signals", &SimOptions::signalEveryMs, 1, kMaxSignalEveryMs, "milliseconds from 1 to 60000"},
        {"--layers", &SimOptions::sampleLayers, 1, kMaxSampleLayers, "a number of layers from 1 to 2000"},
    };
    for (const WholeOption& option : options)
        if (!strcmp(arg, option.name))
            return &option;
    return nullptr;
}

// "WxH" with both from 2 to 32768.
bool resolution(const char* text, int& width, int& height)
{
    char tail = 0;
    return sscanf(text, "%dx%d%c", &width, &height, &tail) == 2 && width >= 2 && height >= 2 && width <= 32768 &&
           height <= 32768;
}

// The options that take a path or a name as they stand.
std::string SimOptions::*textOption(const char* arg)
{
    static const struct
    {
        const char* name;
        std::string SimOptions::*field;
    } options[] = {{"--out", &SimOptions::outDir},
                   {"--make-sample", &SimOptions::makeSample},
                   {"--make-correction", &SimOptions::makeCorrection},
                   {"--correction", &SimOptions::correction},
                   {"--mask", &SimOptions::mask}};
    for (const auto& option : options)
        if (!strcmp(arg, option.name))
            return option.field;
    return nullptr;
}

// What is asked: a print, a file to make or a service image. Each option
// applies to some of them.
enum Mode : unsigned { Print = 1, Sample = 2, Correction = 4, Pattern = 8, MaskGrid = 16 };
constexpr unsigned kMachine = Print | Pattern | MaskGrid; // what runs the simulated machine

struct Scope
{
    const char* name;
    unsigned modes;
    const char* where; // as the refusal names them
};

const Scope* scopeOf(const char* arg)
{
    static const Scope scopes[] = {
        {"--speed", kMachine, "a print, --pattern or --mask-grid"},
        {"--out", kMachine, "a print, --pattern or --mask-grid"},
        {"--correction", kMachine, "a print, --pattern or --mask-grid"},
        {"--mask", kMachine, "a print, --pattern or --mask-grid"},
        {"--resolution", ~0u, ""},
        {"--pause-at", Print, "a print"},
        {"--resume-after", Print, "a print"},
        {"--abort-at", Print, "a print"},
        {"--signals", Print, "a print"},
        {"--no-frames", Print, "a print"},
        {"--quiet", Print, "a print"},
        {"--layers", Sample, "--make-sample"},
        {"--mask-blocks", MaskGrid, "--mask-grid"},
    };
    for (const Scope& scope : scopes)
        if (!strcmp(arg, scope.name))
            return &scope;
    return nullptr;
}

// What the options ask for, or false with the cause when they ask for none
// or more than one thing.
bool askedMode(const SimOptions& o, unsigned& mode, std::string& error)
{
    // In the order of the Mode bits.
    const std::pair<bool, const char*> asked[] = {{!o.file.empty(), "a slice file to print"},
                                                   {!o.makeSample.empty(), "--make-sample"},
                                                   {!o.makeCorrection.empty(), "--make-correction"},
                                                   {!o.pattern.empty(), "--pattern"},
                                                   {o.maskColumns > 0, "--mask-grid"}};
    const char* first = nullptr;
    mode = 0;
    for (size_t i = 0; i < std::size(asked); ++i) {
        if (!asked[i].first)
            continue;
        if (first) {
            error = std::string(first) + " or " + asked[i].second + ", not both";
            return false;
        }
        first = asked[i].second;
        mode = 1u << i;
    }
    if (!first)
        error = "no slice file given";
    return first != nullptr;
}

} // namespace

bool isPatternName(const std::string& name)
{
    for (const char* pattern : kPatterns)
        if (name == pattern)
            return true;
    return false;
}

const char* simUsage()
{
    return "usage: talviks-sim [machine options] [print options] FILE.qds|FILE.svgx\n"
           "       talviks-sim [machine options] --pattern NAME\n"
           "       talviks-sim [machine options] --mask-grid CxR [--mask-blocks]\n"
           "       talviks-sim --make-sample FILE.qds [--layers N] [--resolution WxH]\n"
           "       talviks-sim --make-correction FILE [--resolution WxH]\n"
           "Prints a slice file on the simulated board. TALVIKS_ROOT names the scratch folder\n"
           "that stands for the board's file system (made when missing).\n"
           "Machine options: --speed, --resolution, --correction, --mask, and --out for what it\n"
           "writes. Print options: --pause-at, --resume-after (with --pause-at), --abort-at,\n"
           "--signals, --no-frames, --quiet. An option given where it does not apply is refused.\n"
           "Layers are counted from 1 (the first layer is layer 1) in these options, the\n"
           "progress, the frame names and the timeline; only the engine's log counts from 0.\n"
           "  --speed N          run the machine clock N times faster than real time, 0.01 to\n"
           "                     100000 (default 1); the engine's own delays grow with it in\n"
           "                     machine time, so at the top exposures run a little long;\n"
           "                     after a stop signal the rest runs at the top speed\n"
           "  --out DIR          where the frames and timeline.csv go (default <root>/sim-out);\n"
           "                     a print the printer takes removes the frame-*.png and\n"
           "                     timeline.csv there first (a file it refuses leaves them);\n"
           "                     one run at a time per folder\n"
           "  --pause-at L       ask for a pause while layer L is made (the print pauses after it)\n"
           "  --resume-after MS  hold that pause MS milliseconds of machine time, 0 to 3600000\n"
           "                     (default 3000)\n"
           "  --abort-at L       abort while layer L is exposed\n"
           "  --signals MS       fire a timer signal every MS milliseconds of real time, 1 to\n"
           "                     60000, and beep at every exposure\n"
           "  --no-frames        write no PNG frames\n"
           "  --quiet            no progress lines (warnings and the summary still show)\n"
           "  --layers N         layers of the sample model, 1 to 2000 (default 40)\n"
           "  --resolution WxH   the machine's panel in pixels (default: as configured, 1920x1080)\n"
           "  --correction FILE  print with this projection correction file (the machine's\n"
           "                     width x height X positions, then as many Y positions, each a\n"
           "                     little-endian u32 of the 1-based source position x 1000000)\n"
           "  --mask FILE        print with this mask image (an 8-bit gray PNG of the panel's size)\n"
           "  --make-correction FILE  write a projector's correction file for the panel and stop\n"
           "  --pattern NAME     project a test pattern and write the frame as pattern-NAME.png:\n"
           "                     gridline, abc, abc-inverse, stripe, midpoint, blocks, dots, gray\n"
           "  --mask-grid CxR    project a mask grid of C columns and R rows (1 to 64 each) with\n"
           "                     its seed levels as a smooth surface, write the frame as\n"
           "                     mask-CxR.png and save the mask image in <root>/data/etc\n"
           "  --mask-blocks      show the mask grid as blurred blocks instead\n"
           "The progress shows a line a layer as its exposure begins, with the plate's height\n"
           "then (as in the timeline), or \"homing\" until the first exposure; the remaining\n"
           "time has \"~\" while it is the settings' estimate, before a layer was measured.\n"
           "Frames (frame-L.png for layer L, taken as the light goes off, and the service\n"
           "images) are 8-bit gray when the panel shows one gray level a pixel, in any one of\n"
           "the frame buffer's three bytes or in all three; else the three bytes as RGB (a\n"
           "sub-pixel panel). At most two frames wait for the writer: one that comes while\n"
           "two wait is dropped and counted in the summary (a lower --speed keeps them all).\n"
           "Each file is written whole or not at all; the summary counts those that were not.\n"
           "The summary's terms (its times, like the timeline's, are machine time):\n"
           "  Result             0 when every layer was made; else the printer's code, its\n"
           "                     meaning, and a Cause line: the layer and what the file's\n"
           "                     readers or the layer renderer found wrong, or the homing\n"
           "  Per-layer time beyond the waits and the motion: from one exposure's start to\n"
           "                     the next, less the exposure, the settle, release and breathe\n"
           "                     waits, the axis's motion and the frame capture; what the\n"
           "                     engine itself took (image, commands, scheduling)\n"
           "  Engine traces      the engine's own console output, kept out of the terminal\n"
           "timeline.csv has a row per exposed layer; -1 stands for what the layer never\n"
           "reached (the light off, the release or breathe of a layer cut short).\n"
           "Exit status: 0 all layers made; 2 aborted; 5, 21, 22, 23 for the result codes\n"
           "00000005, 00020001, 00020002, 00020003; 3 all layers made but a frame, the\n"
           "timeline, the log or the traces not written whole; 1 when the print could not start;\n"
           "128 + N when signal N (SIGINT, SIGTERM, SIGHUP) stopped it: the print ends as an abort.\n"
           "Patterns and mask grids end with 0 when the frame was written, else 1.\n";
}

bool parseSimOptions(int argc, char** argv, SimOptions& o, std::string& error)
{
    std::vector<const Scope*> given;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (const Scope* scope = scopeOf(arg))
            given.push_back(scope);
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
        } else if (std::string SimOptions::*const field = textOption(arg)) {
            if (!(v = value(arg)))
                return false;
            o.*field = v;
        } else if (!strcmp(arg, "--resolution")) {
            if (!(v = value(arg)) || !resolution(v, o.resolutionX, o.resolutionY)) {
                error = error.empty() ? "--resolution takes width x height, as 3840x2400" : error;
                return false;
            }
        } else if (const WholeOption* option = wholeOption(arg)) {
            int n = 0;
            if (!(v = value(arg)) || !whole(v, n) || n < option->low || n > option->high) {
                error = error.empty() ? std::string(arg) + " takes " + option->unit : error;
                return false;
            }
            o.*(option->field) = n;
        } else if (!strcmp(arg, "--pattern")) {
            if (!(v = value(arg)))
                return false;
            if (!isPatternName(v)) {
                error = std::string("no test pattern named ") + v;
                return false;
            }
            o.pattern = v;
        } else if (!strcmp(arg, "--mask-grid")) {
            if (!(v = value(arg)) || !gridSize(v, o.maskColumns, o.maskRows)) {
                error = error.empty() ? "--mask-grid takes columns x rows, each from 1 to 64, as 4x3" : error;
                return false;
            }
        } else if (!strcmp(arg, "--mask-blocks")) {
            o.maskBlocks = true;
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
    unsigned mode = 0;
    if (!askedMode(o, mode, error))
        return false;
    // An option that would be ignored is refused: the user meant something by it.
    for (const Scope* option : given)
        if (!(option->modes & mode)) {
            error = std::string(option->name) + " applies only to " + option->where;
            return false;
        }
    if (o.pauseAt == 0 && std::find(given.begin(), given.end(), scopeOf("--resume-after")) != given.end()) {
        error = "--resume-after applies only with --pause-at";
        return false;
    }
    return true;
}
