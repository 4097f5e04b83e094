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
        Reverse = 0x08,
        Mask = 0x10,
        AllChannels = 0x20, // else the first channel only
        SubPixel = 0x40,
        DrawOver = 0x80,    // a picture drawn over the layer afterwards
    };

    static SvgLayerInput parse(const uint8_t* data, size_t size)
    {
        SvgLayerInput input;
        const uint8_t o = data[0];
        input.wrapAsLayer = o & WrapAsLayer;
        input.outlineOffsetUm = (o & Grow) ? 120 : (o & Shrink) ? -80 : 0;
        input.reverse = o & Reverse;
        input.mask = o & Mask;
        input.channel = (o & AllChannels) ? 0 : 1;
        input.subPixel = o & SubPixel;
        input.drawOver = o & DrawOver;
        input.document.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
        return input;
    }

    static std::string make(uint8_t options, const std::string& document)
    {
        return std::string(1, static_cast<char>(options)) + document;
    }

    bool wrapAsLayer = false;
    int outlineOffsetUm = 0;
    bool reverse = false;
    bool mask = false;
    int channel = 1;
    bool subPixel = false;
    bool drawOver = false;
    std::string document;
};
