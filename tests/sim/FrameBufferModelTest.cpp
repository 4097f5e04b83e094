// The simulated frame buffer answers as the kernel's fbdev does.
#include "board/FrameBufferModel.h"
#include "board/SimBoard.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

TEST(FrameBufferModelTest, ScreenInfoAndSharedMemory)
{
    sim::SimBoard board;
    auto model = std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{6, 2, 24, 20, 0});
    board.attach("/dev/fb2", model);
    const int fd = board.open("/dev/fb2", O_RDWR);
    ASSERT_GE(fd, 0);

    fb_var_screeninfo var{};
    ASSERT_EQ(0, board.ioctl(fd, FBIOGET_VSCREENINFO, &var));
    EXPECT_EQ(6u, var.xres);
    EXPECT_EQ(2u, var.yres);
    EXPECT_EQ(24u, var.bits_per_pixel);
    fb_fix_screeninfo fix{};
    ASSERT_EQ(0, board.ioctl(fd, FBIOGET_FSCREENINFO, &fix));
    EXPECT_EQ(20u, fix.line_length);
    EXPECT_EQ(40u, fix.smem_len);
    EXPECT_EQ(-1, board.ioctl(fd, FBIOPUT_VSCREENINFO, &var));
    EXPECT_EQ(ENOTTY, errno);

    // Two mappings see the same memory; the model reads it back.
    auto* a = static_cast<uint8_t*>(board.mmap(nullptr, 40, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    auto* b = static_cast<uint8_t*>(board.mmap(nullptr, 40, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    ASSERT_NE(MAP_FAILED, a);
    ASSERT_NE(MAP_FAILED, b);
    EXPECT_EQ(2, model->mappings());
    for (int i = 0; i < 40; ++i)
        a[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(b[39], 39);
    const std::vector<uint8_t> visible = model->visibleBytes();
    ASSERT_EQ(36u, visible.size()); // the two padding bytes of each row are left out
    EXPECT_EQ(20, visible[18]);
    const QImage frame = model->frame();
    ASSERT_EQ(QSize(6, 2), frame.size());
    EXPECT_EQ(qRgb(20, 21, 22), frame.pixel(0, 1));

    // Beyond the page-rounded memory the kernel refuses, as it does private mappings.
    EXPECT_EQ(MAP_FAILED, board.mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
    EXPECT_EQ(EINVAL, errno);
    EXPECT_EQ(MAP_FAILED, board.mmap(nullptr, 40, PROT_READ, MAP_PRIVATE, fd, 0));
    EXPECT_EQ(0, board.munmap(a, 40));
    EXPECT_EQ(0, board.close(fd));
    // A mapping outlives its descriptor.
    b[0] = 99;
    EXPECT_EQ(99, model->memory()[0]);
    EXPECT_EQ(0, board.munmap(b, 40));
    EXPECT_EQ(0, model->mappings());

    auto deep = std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{4, 4, 16, 0, 0});
    EXPECT_TRUE(deep->frame().isNull());
}
