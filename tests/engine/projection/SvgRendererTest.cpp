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

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
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

class SvgRendererTest : public ProjectionTest
{
protected:
    void SetUp() override
    {
        ProjectionTest::SetUp();
        normalMachine(kW, kH, kW / 20.0f, kH / 20.0f);
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
        {"crashes", "printf R; kill -SEGV $$", -EIO, "ended by signal 11"},
        {"answers nonsense", "printf R; head -c 32 >/dev/null; printf '%040d' 0; cat >/dev/null", -EIO,
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
