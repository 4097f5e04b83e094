#include "board/FrameBufferModel.h"

#include <linux/fb.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

namespace sim {

// The video memory: a memory file, so that every mapping handed out is a
// mapping of its own (its own address, as from the kernel) of the same pages.
// The model keeps one more mapping to read it back. It stays while any
// mapping or open file holds it.
struct FrameBufferModel::Memory
{
    explicit Memory(size_t length)
        : pageLength(std::max<size_t>(1, (length + pageSize() - 1) / pageSize()) * pageSize()),
          fd(memfd_create("sim-fb", MFD_CLOEXEC))
    {
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(pageLength)) != 0)
            throw std::bad_alloc();
        bytes = static_cast<uint8_t*>(::mmap(nullptr, pageLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        if (bytes == MAP_FAILED) {
            ::close(fd);
            throw std::bad_alloc();
        }
    }
    ~Memory()
    {
        ::munmap(bytes, pageLength);
        ::close(fd);
    }

    static size_t pageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

    const size_t pageLength;
    const int fd;
    uint8_t* bytes = nullptr;
    std::atomic<int> mappings{0};
};

class FrameBufferModel::File : public OpenFile
{
public:
    File(const Geometry& geometry, std::shared_ptr<Memory> memory) : m_geometry(geometry), m_memory(std::move(memory)) {}

    int ioctl(unsigned long request, void* arg) override
    {
        if (request == FBIOGET_VSCREENINFO) {
            if (!arg)
                return -EFAULT;
            *static_cast<fb_var_screeninfo*>(arg) = varInfo();
            return 0;
        }
        if (request == FBIOGET_FSCREENINFO) {
            if (!arg)
                return -EFAULT;
            *static_cast<fb_fix_screeninfo*>(arg) = fixInfo();
            return 0;
        }
        return -ENOTTY;
    }

    // As the kernel: the mapped range must lie inside the page-rounded memory.
    int mmap(size_t length, int protection, int flags, off_t offset, void** address) override
    {
        if (!(flags & MAP_SHARED))
            return -EINVAL;
        if (offset < 0 || offset % Memory::pageSize() || length == 0 ||
            static_cast<size_t>(offset) > m_memory->pageLength || length > m_memory->pageLength - offset)
            return -EINVAL;
        void* mapped = ::mmap(nullptr, length, protection, MAP_SHARED, m_memory->fd, offset);
        if (mapped == MAP_FAILED)
            return -errno;
        *address = mapped;
        m_memory->mappings.fetch_add(1);
        return 0;
    }

    int munmap(void* address, size_t length) override
    {
        if (::munmap(address, length) != 0)
            return -errno;
        m_memory->mappings.fetch_sub(1);
        return 0;
    }

private:
    fb_var_screeninfo varInfo() const
    {
        fb_var_screeninfo info{};
        info.xres = info.xres_virtual = m_geometry.xres;
        info.yres = info.yres_virtual = m_geometry.yres;
        info.bits_per_pixel = m_geometry.bitsPerPixel;
        // Colours in memory order: the first byte of a pixel is the lowest.
        if (m_geometry.bitsPerPixel >= 24) {
            info.red = {0, 8, 0};
            info.green = {8, 8, 0};
            info.blue = {16, 8, 0};
        } else if (m_geometry.bitsPerPixel == 16) {
            info.red = {11, 5, 0};
            info.green = {5, 6, 0};
            info.blue = {0, 5, 0};
        }
        info.height = info.width = UINT32_MAX; // size in mm unknown
        return info;
    }

    fb_fix_screeninfo fixInfo() const
    {
        fb_fix_screeninfo info{};
        strncpy(info.id, "sim-fb", sizeof info.id - 1);
        info.smem_len = m_geometry.memoryBytes;
        info.type = FB_TYPE_PACKED_PIXELS;
        info.visual = FB_VISUAL_TRUECOLOR;
        info.line_length = m_geometry.lineLength;
        return info;
    }

    const Geometry m_geometry;
    const std::shared_ptr<Memory> m_memory;
};

FrameBufferModel::FrameBufferModel(const Geometry& geometry) : m_geometry(geometry)
{
    if (!m_geometry.lineLength)
        m_geometry.lineLength = static_cast<uint32_t>((uint64_t{m_geometry.xres} * m_geometry.bitsPerPixel + 7) / 8);
    if (!m_geometry.memoryBytes)
        m_geometry.memoryBytes = static_cast<uint32_t>(uint64_t{m_geometry.lineLength} * m_geometry.yres);
    m_memory = std::make_shared<Memory>(m_geometry.memoryBytes);
}

FrameBufferModel::~FrameBufferModel() = default;

std::vector<uint8_t> FrameBufferModel::memory() const
{
    return std::vector<uint8_t>(m_memory->bytes, m_memory->bytes + m_geometry.memoryBytes);
}

std::vector<uint8_t> FrameBufferModel::visibleBytes() const
{
    const size_t row = (size_t{m_geometry.xres} * m_geometry.bitsPerPixel + 7) / 8;
    std::vector<uint8_t> bytes;
    bytes.reserve(row * m_geometry.yres);
    for (uint32_t y = 0; y < m_geometry.yres; ++y) {
        const size_t start = size_t{y} * m_geometry.lineLength;
        if (start + row > m_geometry.memoryBytes)
            break;
        bytes.insert(bytes.end(), m_memory->bytes + start, m_memory->bytes + start + row);
    }
    return bytes;
}

QImage FrameBufferModel::frame() const
{
    if (m_geometry.bitsPerPixel != 24 || uint64_t{m_geometry.lineLength} * m_geometry.yres > m_geometry.memoryBytes ||
        m_geometry.lineLength < uint64_t{m_geometry.xres} * 3)
        return QImage();
    QImage image(static_cast<int>(m_geometry.xres), static_cast<int>(m_geometry.yres), QImage::Format_RGB888);
    if (image.isNull())
        return image;
    for (int y = 0; y < image.height(); ++y)
        memcpy(image.scanLine(y), m_memory->bytes + size_t(y) * m_geometry.lineLength, size_t(image.width()) * 3);
    return image;
}

uint8_t* FrameBufferModel::data()
{
    return m_memory->bytes;
}

int FrameBufferModel::mappings() const
{
    return m_memory->mappings.load();
}

int FrameBufferModel::open(const std::string&, int, std::shared_ptr<OpenFile>& file)
{
    file = std::make_shared<File>(m_geometry, m_memory);
    return 0;
}

} // namespace sim
