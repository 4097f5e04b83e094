// SVG layers are drawn by the layer renderer, a process of its own: layers
// within the reader's caps that ask more memory or time than the board has
// end with the layer's failure, the panel free again at once; a renderer
// that fails, hangs or answers nonsense costs one layer, never the printer.
#include "engine/projection/ProjectionFixture.h"

#include "base/threads/StopSignal.h"
#include "base/threads/Stopwatch.h"
#include "engine/projection/LayerRenderProtocol.h"
#include "engine/slicefile/SvgParser.h"
#include "support/Emulator.h"
#include "support/Sanitizers.h"
#include "writers/HostileSvg.h"
#include "writers/SvgxWriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace testsupport;
using namespace testwriters;

namespace {

// A 1920 x 1080 panel over 96 x 54 mm.
constexpr int kW = 1920;
constexpr int kH = 1080;

std::string document(const std::string& layer)
{
    return SVG_HEAD + layer + SVG_TAIL;
}

std::string soundLayer()
{
    return document("<g id=\"layer-0\" fill=\"white\">\n<path d=\"" + squarePathData(-10, -10, 20) + "\"/>\n</g>");
}

// The largest resident size any renderer reached, in bytes.
uint64_t largestRendererSize()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return uint64_t(usage.ru_maxrss) * 1024;
}

// Points the projection at a stand-in renderer: a shell script.
class StandInRenderer
{
public:
    explicit StandInRenderer(const std::string& script)
    {
        const char* current = getenv("TALVIKS_LAYER_RENDERER");
        m_saved = current ? current : "";
        const std::string path = rootPath("/tmp/stand-in-" + std::to_string(++s_count) + ".sh");
        makeDirs(rootPath("/tmp"));
        writeFile(path, "#!/bin/sh\n" + script + "\n");
        chmod(path.c_str(), 0755);
        setenv("TALVIKS_LAYER_RENDERER", path.c_str(), 1);
    }
    ~StandInRenderer() { setenv("TALVIKS_LAYER_RENDERER", m_saved.c_str(), 1); }

private:
    static inline int s_count = 0;
    std::string m_saved;
};

// The words that start the stand-in renderer in `mode` (see standin/).
std::string standInWords(const std::string& mode)
{
    std::string words;
    for (const std::string& word : programArgv(TALVIKS_STAND_IN_RENDERER))
        words += word + " ";
    return words + mode;
}

// The processes this one started and has not reaped.
std::vector<int> childProcesses()
{
    return testsupport::childProcesses(getpid());
}

bool isLayerRenderer(int pid)
{
    const std::string command = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    return command.find(LayerRenderer::kProgramName) != std::string::npos;
}

std::string linkOf(const std::string& path)
{
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}

class SvgRendererTest : public ProjectionTest
{
protected:
    void SetUp() override
    {
        ProjectionTest::SetUp();
        normalMachine(kW, kH, kW / 20.0f, kH / 20.0f);
    }

    // A view of its own, which starts its own renderer.
    void freshView()
    {
        view = std::make_unique<ProjectView>();
        ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
    }

    // A sound layer shows right after: the renderer (a fresh one, when the
    // last was stopped) and the panel are there for it.
    void expectSoundLayerShows()
    {
        Stopwatch watch;
        EXPECT_EQ(0, view->showSvgLayer(soundLayer()));
        EXPECT_EQ(255, pixel(kW / 2, kH / 2)[0]);
        EXPECT_EQ(0, pixel(0, 0)[0]);
        EXPECT_LT(watch.elapsedMs(), 10000);
    }
};

} // namespace

TEST_F(SvgRendererTest, LayersBeyondTheRenderersMemoryEndWithTheMemoryFailure)
{
    if (kSanitizerAllocator)
        GTEST_SKIP() << "the sanitizer's allocator replaces the renderer's budget";
    // Memory, not time, ends them.
    view->setRenderTimeLimit(60000);
    const struct
    {
        const char* name;
        std::string svg;
    } layers[] = {
        // The largest layer the reader hands out, of empty groups.
        {"32 MiB of empty groups", document(emptyGroupsLayer(0, SvgParser::kMaxNodeLength - 64))},
        {"300,000 small paths", document(smallPathsLayer(0, 300000))},
    };
    for (const auto& layer : layers) {
        Stopwatch watch;
        EXPECT_EQ(-EIO, view->showSvgLayer(layer.svg)) << layer.name;
        EXPECT_LT(watch.elapsedMs(), 60000) << layer.name;
        EXPECT_NE(std::string::npos, logText().find("Svg layer")) << layer.name;
        expectSoundLayerShows();
    }
    if (!underEmulator()) {
        // The budget, and the program and its libraries besides.
        EXPECT_LT(largestRendererSize(), layerrender::memoryBudget(kW, kH) + (64u << 20));
    }
}

// Half a million outline points, 8 MiB of text: a large layer, but a sound one.
TEST_F(SvgRendererTest, ALargeSoundLayerIsDrawnWithinTheBudget)
{
    std::string layer = "<g id=\"layer-0\" fill=\"white\">\n";
    for (int i = 0; i < 500; ++i)
        layer += "<path d=\"" + polygonPathData((i % 40) * 2.0 - 40, (i / 40) * 2.0 - 20, 0.9, 1000) + "\"/>\n";
    layer += "</g>";
    ASSERT_GT(layer.size(), 8000000u);
    EXPECT_EQ(0, view->showSvgLayer(document(layer)));
    // The centre of the polygon at (0, 0) mm, and the gap beside it.
    EXPECT_EQ(255, pixel(kW / 2, kH / 2)[0]);
    EXPECT_EQ(0, pixel(kW / 2 + 20, kH / 2)[0]);
}

TEST_F(SvgRendererTest, LayersBeyondTheRenderTimeAreStoppedAtTheLimit)
{
    const int limitMs = 1000;
    view->setRenderTimeLimit(limitMs);
    const std::string slow = document(gradientCirclesLayer(0, 20000, 60));
    Stopwatch watch;
    EXPECT_EQ(-ETIMEDOUT, view->showSvgLayer(slow));
    EXPECT_GE(watch.elapsedMs(), limitMs);
    EXPECT_LT(watch.elapsedMs(), limitMs + 3000);
    EXPECT_NE(std::string::npos, logText().find("Svg layer not drawn within 1000 ms: the renderer was stopped"));
    view->setRenderTimeLimit(ProjectView::kRenderLimitMs);
    expectSoundLayerShows();
}

TEST_F(SvgRendererTest, ARenderEndsAtOnceWhenItsLayerIsNoLongerWanted)
{
    const std::string slow = document(gradientCirclesLayer(0, 20000, 60));
    StopSignal cancel;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel.raise();
    });
    Stopwatch watch;
    EXPECT_EQ(-ECANCELED, view->showSvgLayer(slow, cancel.fd()));
    EXPECT_LT(watch.elapsedMs(), 5000);
    stopper.join();
    expectSoundLayerShows();
}

TEST_F(SvgRendererTest, ARendererThatFailsCostsOneLayer)
{
    const struct
    {
        const char* name;
        std::string script;
        int result;
        const char* log;
    } renderers[] = {
        {"missing", "exec /nonexistent/renderer", -1, "Svg layer not drawn: the layer renderer"},
        {"not a renderer", "echo hello", -1, "does not answer as one"},
        {"never ready", "cat >/dev/null", -1, "did not say it was ready within 10000 ms"},
        // A renderer's own end is the layer's failure, not the memory's.
        {"crashes", "printf R; kill -SEGV $$", -1, "ended by signal 11"},
        {"killed", "printf R; kill -KILL $$", -1, "ended by signal 9"},
        {"exits", "printf R; head -c 32 >/dev/null; exit 0", -1, "ended with exit code 0"},
        {"answers nonsense", "printf R; head -c 32 >/dev/null; printf '%040d' 0; cat >/dev/null", -1,
         "answered what cannot be read"},
        {"hangs", "printf R; cat >/dev/null", -ETIMEDOUT, "not drawn within 2000 ms"},
    };
    for (const auto& r : renderers) {
        {
            StandInRenderer standIn(r.script);
            // A view of its own starts the stand-in.
            view = std::make_unique<ProjectView>();
            ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
            view->setRenderTimeLimit(2000);
            EXPECT_EQ(r.result, view->showSvgLayer(soundLayer())) << r.name;
            EXPECT_NE(std::string::npos, logText().find(r.log)) << r.name;
        }
        expectSoundLayerShows();
    }
}

// A reply is checked whole before a byte of its pixels is taken: a claimed
// rectangle past the panel, by far or by one, or whose sums wrap in 32 bits,
// would have the pixels that follow written outside the image.
TEST_F(SvgRendererTest, TheRectangleOfAReplyIsCheckedBeforeItsPixelsAreTaken)
{
    const struct
    {
        const char* name;
        int plane, x, y, w, h;
    } claims[] = {
        {"a width whose end wraps", 1, 2, 0, INT_MAX, 1},
        {"a height whose end wraps", 1, 0, 2, 1, INT_MAX},
        {"above the panel", 1, 0, -1, 4, 4},
        {"left of the panel", 1, -4, 0, 8, 1},
        {"one past the right edge", 1, kW - 1, 0, 2, 1},
        {"one below the bottom", 1, 0, kH - 3, 1, 4},
        {"a negative size", 1, 4, 4, -2, 2},
        {"a plane that does not exist", 2, 0, 0, kW, kH},
    };
    for (const auto& c : claims) {
        {
            StandInRenderer standIn("exec " + standInWords("claim") + " " + std::to_string(c.plane) + " " +
                                    std::to_string(c.x) + " " + std::to_string(c.y) + " " + std::to_string(c.w) +
                                    " " + std::to_string(c.h) + " \"$@\"");
            freshView();
            EXPECT_EQ(-1, view->showSvgLayer(soundLayer())) << c.name;
            EXPECT_NE(std::string::npos, logText().find("answered what cannot be read")) << c.name;
        }
        expectSoundLayerShows();
    }
}

// A renderer that answers a layer twice, or late, never has the answer to
// one layer shown as the next: one that spoke out of turn is replaced before
// the next layer, and an answer to another layer is refused.
TEST_F(SvgRendererTest, AnAnswerToAnEarlierLayerIsNeverShown)
{
    // Layers told apart by their size, which the stand-in draws as their gray.
    const std::string first = soundLayer() + std::string((256 + 44 - soundLayer().size() % 256) % 256, ' ');
    const std::string second = first + std::string(100, ' ');
    ASSERT_EQ(44u, first.size() % 256);
    const struct
    {
        const char* mode;
        int result;
        const char* log;
    } renderers[] = {
        {"twice", 0, "The layer renderer sent what no layer asked for: it is replaced"},
        {"behind", -1, "the layer renderer answered what cannot be read"},
    };
    for (const auto& r : renderers) {
        {
            StandInRenderer standIn("exec " + standInWords(r.mode) + " \"$@\"");
            freshView();
            ASSERT_EQ(0, view->showSvgLayer(first)) << r.mode;
            ASSERT_EQ(44, pixel(1, 1)[0]) << r.mode;
            EXPECT_EQ(r.result, view->showSvgLayer(second)) << r.mode;
            EXPECT_EQ(r.result == 0 ? 144 : 44, pixel(1, 1)[0]) << r.mode;
            EXPECT_NE(std::string::npos, logText().find(r.log)) << r.mode;
        }
        expectSoundLayerShows();
    }
}

// A layer of thousands of fills that name no paint has the toolkit warn about
// each: a few of its messages reach the log, none the printer's standard error.
TEST_F(SvgRendererTest, TheRenderersMessagesReachTheLogAFewALayer)
{
    std::string layer = "<g id=\"layer-0\">\n";
    for (int i = 0; i < 30000; ++i)
        layer += "<rect x=\"" + std::to_string(i % 100 - 50) + "\" y=\"" + std::to_string(i / 100 % 50 - 25) +
                 "\" width=\"0.5\" height=\"0.5\" fill=\"url(#paint" + std::to_string(i) + ")\"/>\n";
    layer += "</g>";
    // This process's standard error while a fresh renderer starts and draws.
    const std::string errors = rootPath("/tmp/stderr.txt");
    makeDirs(rootPath("/tmp"));
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    close(file);
    freshView();
    const int rc = view->showSvgLayer(document(layer));
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);

    EXPECT_EQ(0, rc);
    EXPECT_LT(readFile(errors).size(), 4096u);
    const std::string log = logText();
    size_t lines = 0;
    for (size_t at = log.find("Layer renderer: "); at != std::string::npos; at = log.find("Layer renderer: ", at + 1))
        ++lines;
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 11u);
}

// The renderer holds its socket and its error pipe and nothing else of the
// printer's, and no privilege: a layer that takes it over gains nothing.
TEST_F(SvgRendererTest, TheRendererHoldsItsSocketAndNoPrivileges)
{
    // A descriptor of the printer's that stays open across a program start.
    makeDirs(rootPath("/tmp"));
    const std::string marker = rootPath("/tmp/marker");
    const int held = open(marker.c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    const int rc = view->showSvgLayer(soundLayer());
    close(held);
    ASSERT_EQ(0, rc);
    const std::vector<int> children = childProcesses();
    ASSERT_EQ(1u, children.size());
    const std::string process = "/proc/" + std::to_string(children[0]);
    const std::string status = readFile(process + "/status");
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        EXPECT_NE(std::string::npos, status.find(std::string(set) + ":\t0000000000000000")) << status;
    if (geteuid() == 0) {
        EXPECT_NE(std::string::npos, status.find("CapBnd:\t0000000000000000")) << status;
    }
    EXPECT_NE(std::string::npos, status.find("NoNewPrivs:\t1")) << status;

    // An emulator holds descriptors of its own.
    if (underEmulator())
        return;
    const std::string socket = linkOf(process + "/fd/0");
    EXPECT_EQ(0u, socket.find("socket:")) << socket;
    EXPECT_EQ(socket, linkOf(process + "/fd/1"));
    const std::string errors = linkOf(process + "/fd/2");
    EXPECT_EQ(0u, errors.find("pipe:")) << errors;
    EXPECT_NE(linkOf("/proc/self/fd/2"), errors) << "the printer's own standard error";
    DIR* folder = opendir((process + "/fd").c_str());
    ASSERT_NE(nullptr, folder);
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.' || atoi(entry->d_name) <= 2)
            continue;
        // Beyond these only the toolkit's own wake-up.
        const std::string link = linkOf(process + "/fd/" + entry->d_name);
        EXPECT_EQ(0u, link.find("anon_inode:")) << entry->d_name << ": " << link;
    }
    closedir(folder);
}

// Each print's image thread ends with the print; the renderer it started
// serves the next print, which a signal for the thread's end must not stop.
TEST_F(SvgRendererTest, TheRendererOutlivesTheThreadThatStartedIt)
{
    std::thread([&] { EXPECT_EQ(0, view->showSvgLayer(soundLayer())); }).join();
    const std::vector<int> started = childProcesses();
    ASSERT_EQ(1u, started.size());
    expectSoundLayerShows();
    EXPECT_EQ(started, childProcesses());
}

using SvgRendererDeathTest = SvgRendererTest;

// A printer ended by a signal while a slow layer is drawn takes its renderer
// along at once, not when the layer is done minutes later.
TEST_F(SvgRendererDeathTest, TheRendererEndsWithItsPrinter)
{
    const std::string pidFile = rootPath("/data/renderer.txt");
    EXPECT_EXIT(
        {
            view->setRenderTimeLimit(600000);
            std::thread([&] { view->showSvgLayer(document(gradientCirclesLayer(0, 200000, 60))); }).detach();
            if (!eventually([] { return !childProcesses().empty(); }, 30000))
                std::exit(3);
            writeFile(pidFile, std::to_string(childProcesses().front()));
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // drawing by now
            kill(getpid(), SIGTERM);
            std::this_thread::sleep_for(std::chrono::seconds(60));
            std::exit(4);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    const int renderer = atoi(readFile(pidFile).c_str());
    ASSERT_GT(renderer, 0);
    // Minutes of drawing were left.
    EXPECT_TRUE(eventually([&] { return !isLayerRenderer(renderer); }, 20000)) << "renderer " << renderer;
    if (isLayerRenderer(renderer))
        kill(renderer, SIGKILL); // this test's
}
