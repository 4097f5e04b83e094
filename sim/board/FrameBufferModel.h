#pragma once

#include "board/DeviceModel.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

// A frame-buffer device ("/dev/fb2", the projector's output). It answers
// FBIOGET_VSCREENINFO and FBIOGET_FSCREENINFO with the kernel's structures and
// hands out its video memory through mmap, as the kernel does: any number of
// shared mappings of the same memory, each within the page-rounded memory
// length. Tests and the simulator read the memory back through the model.
class FrameBufferModel : public DeviceModel
{
public:
    static constexpr const char* kPath = "/dev/fb2";

    struct Geometry
    {
        uint32_t xres = 1920;
        uint32_t yres = 1080;
        uint32_t bitsPerPixel = 24;
        uint32_t lineLength = 0;  // bytes per row; 0: xres x bits per pixel / 8
        uint32_t memoryBytes = 0; // video memory; 0: line length x yres
    };

    explicit FrameBufferModel(const Geometry& geometry);
    FrameBufferModel() : FrameBufferModel(Geometry{}) {}
    ~FrameBufferModel() override;

    // With the zero fields filled in.
    const Geometry& geometry() const { return m_geometry; }

    // A copy of the whole video memory.
    std::vector<uint8_t> memory() const;
    // A copy of the visible pixels, rows packed (xres x bits per pixel / 8 bytes each).
    std::vector<uint8_t> visibleBytes() const;
    // A copy of the visible frame as RGB888 (byte order of the memory: first,
    // second, third byte of each pixel); null unless the depth is 24 bits.
    QImage frame() const;
    // The memory itself, for tests that prepare or inspect it in place.
    uint8_t* data();
    // Mappings not yet unmapped.
    int mappings() const;

    int open(const std::string& path, int flags, std::shared_ptr<OpenFile>& file) override;

private:
    class File;
    struct Memory;

    Geometry m_geometry;
    std::shared_ptr<Memory> m_memory;
};

} // namespace sim
