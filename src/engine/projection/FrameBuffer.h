#pragma once

#include "base/threads/noncopyable.h"

#include <linux/fb.h>

#include <cstdint>

// One Linux frame-buffer device mapped into memory, so that images are
// written straight into video memory. Ready as soon as it exists:
// construction opens, queries and maps the device, and throws
// std::runtime_error (the text of the failing call's errno) when a step fails.
//
// No lock: the layer projection is the only writer while printing.
class FrameBuffer : noncopyable
{
public:
    explicit FrameBuffer(const char* fb);
    // Blanks the screen, then unmaps it.
    ~FrameBuffer();

    // Sets every mapped byte to 0.
    void clear();
    // Sets every mapped byte to a value.
    void fill(int value);
    // Reads random bytes into the whole mapping: the read's result.
    int fillRandom();

    static void printFixInfo(const fb_fix_screeninfo& info);
    static void printVarInfo(const fb_var_screeninfo& info);
    static void printBitfield(const fb_bitfield& field);

    // All zero when nothing is mapped.
    uint8_t* memory() const { return m_memory; }
    uint32_t size() const { return m_size; }     // mapped bytes: line length x yres
    uint32_t xres() const { return m_xres; }     // visible width, pixels
    uint32_t yres() const { return m_yres; }     // visible height, pixels
    uint32_t bytesPerPixel() const { return m_bytesPerPixel; }
    uint32_t bitsPerPixel() const { return m_bitsPerPixel; }
    uint32_t lineLength() const { return m_lineLength; } // bytes from one row to the next

private:
    void initialize(const char* fb);

    uint8_t* m_memory = nullptr;
    uint32_t m_size = 0;
    uint32_t m_xres = 0;
    uint32_t m_yres = 0;
    uint32_t m_bytesPerPixel = 0;
    uint32_t m_bitsPerPixel = 0;
    uint32_t m_lineLength = 0;
};
