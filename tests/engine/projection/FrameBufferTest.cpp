// The frame buffer over the simulated projector frame buffer.
#include "engine/projection/ProjectionFixture.h"

#include <linux/fb.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

using namespace testsupport;

namespace {

std::string thrownText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "nothing thrown";
}

} // namespace

TEST_F(ProjectionTest, FrameBufferMapsTheDevice)
{
    fbModel = std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{1920, 1080, 24, 0, 0});
    board.attach(sim::FrameBufferModel::kPath, fbModel);
    {
        FrameBuffer frame(sim::FrameBufferModel::kPath);
        EXPECT_EQ(1920u * 1080 * 3, frame.size());
        EXPECT_EQ(3u, frame.bytesPerPixel());
        EXPECT_EQ(1920u, frame.xres());
        EXPECT_EQ(1080u, frame.yres());
        EXPECT_EQ(1920u * 3, frame.lineLength());
        frame.memory()[5] = 42;
        EXPECT_EQ(42, fbModel->data()[5]);
        // The descriptor is not needed once the memory is mapped.
        EXPECT_EQ(0, board.openFiles(sim::FrameBufferModel::kPath));

        frame.fill(255);
        const std::vector<uint8_t> full = fbModel->memory();
        EXPECT_EQ(std::vector<uint8_t>(full.size(), 255), full);
        frame.clear();
        EXPECT_EQ(std::vector<uint8_t>(full.size(), 0), fbModel->memory());
        frame.fill(7);
    }
    // Destruction blanks the screen and gives the mapping back.
    EXPECT_EQ(std::vector<uint8_t>(1920 * 1080 * 3, 0), fbModel->memory());
    EXPECT_EQ(0, fbModel->mappings());
}

TEST_F(ProjectionTest, FrameBufferFailuresThrowTheSystemText)
{
    const std::string missing = rootPath("/dev/fb9");
    EXPECT_EQ(strerror(ENOENT), thrownText([&] { FrameBuffer frame(missing.c_str()); }));
    EXPECT_NE(std::string::npos, logText().find("Fail to Open Device(" + missing + "): "));

    fbModel = std::make_shared<sim::FrameBufferModel>();
    board.attach(sim::FrameBufferModel::kPath, fbModel);
    board.faults().failNext(sim::FrameBufferModel::kPath, sim::IoOp::Ioctl, 1, EIO, FBIOGET_FSCREENINFO);
    EXPECT_EQ(strerror(EIO), thrownText([] { FrameBuffer frame(sim::FrameBufferModel::kPath); }));
    EXPECT_NE(std::string::npos, logText().find("Fail to Read Fixed Sceeen Info"));
    board.faults().failNext(sim::FrameBufferModel::kPath, sim::IoOp::Ioctl, 1, EINVAL, FBIOGET_VSCREENINFO);
    EXPECT_EQ(strerror(EINVAL), thrownText([] { FrameBuffer frame(sim::FrameBufferModel::kPath); }));
    EXPECT_NE(std::string::npos, logText().find("Fail to Read Vafiable Sceeen Info"));
    board.faults().failNext(sim::FrameBufferModel::kPath, sim::IoOp::Mmap, 1, ENOMEM);
    EXPECT_EQ(strerror(ENOMEM), thrownText([] { FrameBuffer frame(sim::FrameBufferModel::kPath); }));
    EXPECT_NE(std::string::npos, logText().find("Fail to Map Framebuffer Device to memory"));
    // A driver whose rows need more memory than it has cannot be mapped.
    board.attach(sim::FrameBufferModel::kPath,
                 std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{64, 64, 24, 256, 64 * 192}));
    EXPECT_EQ(strerror(EINVAL), thrownText([] { FrameBuffer frame(sim::FrameBufferModel::kPath); }));
    EXPECT_EQ(0, board.openFiles(sim::FrameBufferModel::kPath));
}

TEST(FrameBufferDeathTest, NullPathIsAContractViolation)
{
    EXPECT_DEATH(FrameBuffer frame(nullptr), "fb");
}
