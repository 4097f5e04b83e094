// What the view holds while a normal panel prints decoded layers: the gray
// planes, nothing the colour or sub-pixel paths need.
#include "engine/projection/ProjectionFixture.h"

#include "writers/LayerImages.h"

#include <malloc.h>

using namespace testsupport;

namespace {

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnHeap = true; // the sanitizer's allocator: mallinfo2 does not see it
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kOwnHeap = true;
#else
constexpr bool kOwnHeap = false;
#endif
#else
constexpr bool kOwnHeap = false;
#endif

} // namespace

TEST_F(ProjectionTest, NormalPanelLayersNeedNoColourImages)
{
    if (kOwnHeap)
        GTEST_SKIP() << "heap figures come from glibc's allocator";
    const int w = 1200, h = 800;
    setPanel(w, h, w, h);
    fbModel = std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{w, h, 24, 0, 0});
    board.attach(sim::FrameBufferModel::kPath, fbModel);
    fb = std::make_unique<FrameBuffer>(sim::FrameBufferModel::kPath);
    const std::string block = testwriters::makeRasterBlock(testwriters::modelLayer(w, h, 0));
    const size_t pixels = size_t(w) * h;

    const size_t before = heapInUse();
    view = std::make_unique<ProjectView>();
    ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
    ASSERT_EQ(0, view->decodeImageShow(block, ComprFormat::ZlibRle));
    // Two gray planes (the layer and the one decoded beside it) and the
    // decoder's pairs; one colour image alone would take four bytes a pixel.
    EXPECT_LT(heapInUse() - before, 3 * pixels);

    // A gray level is drawn in colour: now the render image is there.
    ASSERT_EQ(0, view->showGrayImage(90));
    EXPECT_GT(heapInUse() - before, 5 * pixels);
    EXPECT_EQ((Rgb{90, 90, 90}), pixel(w - 1, h - 1));
}
