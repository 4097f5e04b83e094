// Layers reuse their memory: once the first layers are shown, decoding,
// correcting, masking and writing a layer into the frame asks the heap for
// nothing, on any thread. This binary stands in for malloc to count the
// requests; under a sanitizer, whose allocator owns malloc, it only runs the
// layers.
#include "engine/projection/ProjectionFixture.h"

#include "engine/slicefile/LayerDecoder.h"
#include "writers/CorrectionWriter.h"
#include "writers/LayerImages.h"

#include <atomic>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALVIKS_OWN_MALLOC 0
#else
#define TALVIKS_OWN_MALLOC 1
#endif

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int> g_requests{0};

} // namespace

#if TALVIKS_OWN_MALLOC
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

void* malloc(size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        ++g_requests;
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        ++g_requests;
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        ++g_requests;
    return __libc_realloc(block, size);
}
}
#endif

using namespace testsupport;

namespace {

// Heap requests made while `work` runs.
template <typename Work>
int requestsDuring(Work work)
{
    g_requests = 0;
    g_counting = true;
    work();
    g_counting = false;
    return g_requests.load();
}

} // namespace

TEST_F(ProjectionTest, LayersAskTheHeapForNothing)
{
    const int w = 800, h = 600;
    normalMachine(w, h, w, h);
    config().ImageChannel = 1;
    makeDirs(rootPath("/data/etc"));
    writeFile(rootPath("/data/etc/warp.corbin"), testwriters::projectorCorrection(w, h));
    ASSERT_EQ(0, view->setDLPCorrectData("/data/etc/warp.corbin"));
    QImage mask(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        memset(mask.scanLine(y), 150 + y % 100, size_t(w));
    ASSERT_TRUE(mask.save(QString::fromStdString(rootPath("/data/etc/mask.png")), "PNG"));
    ASSERT_EQ(0, view->setMaskImage("/data/etc/mask.png"));

    std::vector<std::string> blocks;
    for (int layer = 0; layer < 4; ++layer)
        blocks.push_back(testwriters::makeRasterBlock(testwriters::modelLayer(w, h, layer * 5)));
    for (const bool corrected : {false, true}) {
        config().CorrectFlag = corrected;
        config().MaskFlag = corrected;
        // The first layers set up what all later ones reuse.
        for (const std::string& block : blocks)
            ASSERT_EQ(0, view->decodeImageShow(block, ComprFormat::ZlibRle));
        const int requests = requestsDuring([&] {
            for (int round = 0; round < 3; ++round)
                for (const std::string& block : blocks)
                    ASSERT_EQ(0, view->decodeImageShow(block, ComprFormat::ZlibRle));
        });
        if (TALVIKS_OWN_MALLOC) {
            EXPECT_EQ(0, requests) << (corrected ? "with correction and mask" : "plain");
        }
    }
}

TEST(LayerDecoderAllocation, TheInflaterWorksInTheScratch)
{
    const std::string block = testwriters::makeRasterBlock(testwriters::modelLayer(640, 480, 1));
    std::vector<uint8_t> pixels(640 * 480), scratch;
    ASSERT_EQ(0, decodeLayerData(pixels.data(), int(pixels.size()), scratch, block, unsigned(block.size())));
    const uint8_t* const kept = scratch.data();
    const int requests = requestsDuring([&] {
        ASSERT_EQ(0, decodeLayerData(pixels.data(), int(pixels.size()), scratch, block, unsigned(block.size())));
    });
    EXPECT_EQ(kept, scratch.data());
    if (TALVIKS_OWN_MALLOC) {
        EXPECT_EQ(0, requests);
    }
}
