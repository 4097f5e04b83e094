#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The SVG layer fuzzer's input: one byte of options, then the document.
struct SvgLayerInput
{
    enum : uint8_t {
        WrapAsLayer = 0x01, // the document is a layer group, wrapped as the reader wraps it
        Grow = 0x02,        // outline offset of +120 um
        Shrink = 0x04,      // outline offset of -80 um
        Mirror = 0x08,      // the Y axis mirrored
        SubPixel = 0x40,    // a sub-pixel panel's scale
    };

    static SvgLayerInput parse(const uint8_t* data, size_t size)
    {
        SvgLayerInput input;
        const uint8_t o = data[0];
        input.wrapAsLayer = o & WrapAsLayer;
        input.outlineOffsetUm = (o & Grow) ? 120 : (o & Shrink) ? -80 : 0;
        input.mirror = o & Mirror;
        input.subPixel = o & SubPixel;
        input.document.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
        return input;
    }

    static std::string make(uint8_t options, const std::string& document)
    {
        return std::string(1, static_cast<char>(options)) + document;
    }

    bool wrapAsLayer = false;
    int outlineOffsetUm = 0;
    bool mirror = false;
    bool subPixel = false;
    std::string document;
};
