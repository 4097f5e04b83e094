#include "engine/projection/FrameBuffer.h"

#include "base/log/LogWriter.h"
#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"
#include "base/threads/Assert.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void fail(int fd, int error)
{
    if (fd >= 0)
        platform().io().close(fd);
    throw std::runtime_error(strerror(error));
}

} // namespace

FrameBuffer::FrameBuffer(const char* fb)
{
    initialize(fb);
}

FrameBuffer::~FrameBuffer()
{
    if (!m_memory)
        return;
    clear();
    platform().io().munmap(m_memory, m_size);
}

void FrameBuffer::initialize(const char* fb)
{
    TALVIKS_ASSERT(fb);
    SysIo& io = platform().io();
    const int fd = io.open(fb, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        logger()->write(LogError, "Fail to Open Device(%s): %s", fb, strerror(error));
        fail(-1, error);
    }

    fb_fix_screeninfo fix{};
    if (io.ioctl(fd, FBIOGET_FSCREENINFO, &fix) < 0) {
        const int error = errno;
        logger()->write(LogError, "Fail to Read Fixed Sceeen Info: %s", strerror(error));
        fail(fd, error);
    }
    printFixInfo(fix);

    fb_var_screeninfo var{};
    if (io.ioctl(fd, FBIOGET_VSCREENINFO, &var) < 0) {
        const int error = errno;
        logger()->write(LogError, "Fail to Read Vafiable Sceeen Info: %s", strerror(error));
        fail(fd, error);
    }
    printVarInfo(var);

    // Rows may be padded: the mapping spans the driver's line length for every
    // row, so that nothing written row by row can fall off its end.
    const uint64_t packedLine = (uint64_t{var.xres} * var.bits_per_pixel + 7) / 8;
    const uint64_t line = fix.line_length ? fix.line_length : packedLine;
    const uint64_t size = line * var.yres;
    if (size == 0 || size > UINT32_MAX) {
        const int error = size ? EOVERFLOW : EINVAL;
        logger()->write(LogError, "Fail to Map Framebuffer Device to memory: %s", strerror(error));
        fail(fd, error);
    }

    void* memory = io.mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        const int error = errno;
        logger()->write(LogError, "Fail to Map Framebuffer Device to memory: %s", strerror(error));
        fail(fd, error);
    }
    // The mapping outlives the descriptor.
    io.close(fd);

    m_memory = static_cast<uint8_t*>(memory);
    m_size = static_cast<uint32_t>(size);
    m_xres = var.xres;
    m_yres = var.yres;
    m_bitsPerPixel = var.bits_per_pixel;
    m_bytesPerPixel = var.bits_per_pixel / 8;
    m_lineLength = static_cast<uint32_t>(line);
    logger()->write(LogInfo, "Frame Buffer Initialize Success!");
}

void FrameBuffer::clear()
{
    fill(0);
}

void FrameBuffer::fill(int value)
{
    if (m_memory)
        memset(m_memory, value, m_size);
}

int FrameBuffer::fillRandom()
{
    SysIo& io = platform().io();
    const int fd = io.open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        printf("open  failed\n");
        return -1;
    }
    const ssize_t result = m_memory ? io.read(fd, m_memory, m_size) : 0;
    io.close(fd);
    return static_cast<int>(result);
}

void FrameBuffer::printFixInfo(const fb_fix_screeninfo& info)
{
    printf("Fix Screen Info:\n");
    printf("\tsmem_start: %lu\n", info.smem_start);
    printf("\tsmem_len: %i\n", static_cast<int>(info.smem_len));
}

void FrameBuffer::printVarInfo(const fb_var_screeninfo& info)
{
    printf("*******fb_var_screeninfo:***********\n");
    printf("\txres: %u\n", info.xres);
    printf("\tyres: %u\n", info.yres);
    printf("\txres_virtual: %u\n", info.xres_virtual);
    printf("\tyres_virtual: %u\n", info.yres_virtual);
    printf("\txoffset: %u\n", info.xoffset);
    printf("\tyoffset: %u\n", info.yoffset);
    printf("\tbits_per_pixel: %u\n", info.bits_per_pixel);
    printf("*******fb_var_screeninfo:***********\n");
}

void FrameBuffer::printBitfield(const fb_bitfield& field)
{
    printf("\t\toffset: %u\n", field.offset);
    printf("\t\tlength: %u\n", field.length);
    printf("\t\tmsb_right: %u\n", field.msb_right);
}
