#pragma once

#include <cstdint>

// Row kernels of the frame writers: one row of pixels from one layout into
// another. `keep` says which bytes of a 24-bit output pixel are kept (0xFF)
// and which are cleared (0x00), in memory order; the input is read in full.
// On x86 they use SSSE3 byte shuffles when the processor has them.

struct ByteMask
{
    uint8_t byte[3];
};

// Gray pixels to 24-bit pixels: out[3x + k] = in[x] & keep[k].
void expandGrayRow(const uint8_t* in, uint8_t* out, int count, ByteMask keep);
// 32-bit QRgb pixels to 24-bit pixels in the order red, green, blue, masked.
void packRgb32Row(const uint32_t* in, uint8_t* out, int count, ByteMask keep);
// The red byte of each 32-bit QRgb pixel.
void redOfRgb32Row(const uint32_t* in, uint8_t* out, int count);
// The same, painting each input pixel black once it is read.
void redOfRgb32RowClearing(uint32_t* in, uint8_t* out, int count);
