#pragma once

#include <cstddef>
#include <cstdint>

// The resampling loops of the projection correction over the table that
// CorrectionTable builds. Pixels come in groups of eight along a row; each
// group has
//
// - a Group word pair: the source index its first pixel would have if the
//   group were sampled from consecutive pixels (or kListed plus the position
//   of its eight source indices in `listed`), and four bits per pixel: a
//   step code (bits 0-2) and the live bit (3; clear: the pixel is black);
// - its Fractions: per pixel the source position's fractions fx and fy in
//   millionths, 20 bits each.
//
// A pixel's source index is the group's plus its place in the group plus
// steps[code]; in a listed group every code is kListedCode. The bilinear
// weights follow from the fractions: w11 = fx x fy / 1,000,000 (truncated),
// w10 = fx - w11, w01 = fy - w11, w00 = 1,000,000 - fx - fy + w11 (0 for a
// black pixel, whose fractions are 0). Where a source sits on the last
// column or row, the fraction that would reach past it is 0.
struct CorrectionRows
{
    static constexpr int kGroup = 8;
    static constexpr uint32_t kListed = 0x80000000u;
    static constexpr uint32_t kListedCode = 7;
    static constexpr uint32_t kLive = 8;

    struct Group
    {
        uint32_t source;
        uint32_t lanes;
    };
    struct Fractions
    {
        uint32_t low[kGroup];  // fx, and the low 12 bits of fy from bit 20 on
        uint8_t high[kGroup];  // the top 8 bits of fy
    };

    const Group* groups = nullptr;       // per row: groupsPerRow of them
    const Fractions* fractions = nullptr; // one per group
    const uint32_t* listed = nullptr;
    int32_t steps[kGroup] = {};
    int width = 0;
    size_t pixels = 0; // of the source plane: width x height
    size_t groupsPerRow = 0;
};

// Rows [first, end) into dst (width bytes a row, from dst on). The source is
// a plane of width x height pixels followed by correctionSlack(width)
// readable bytes; the neighbours read there are weighted 0. With a mask
// (the rows [first, end) of a width-wide plane, from `mask` on) each pixel v
// becomes (v x mask + 254) / 255 on the way.
void correctRowsPortable(const CorrectionRows& table, const uint8_t* src, uint8_t* dst, int first, int end,
                         const uint8_t* mask = nullptr);
// The same eight pixels at a time with the processor's vector unit; false
// (nothing done) when this processor has none the loop can use.
bool correctRowsVector(const CorrectionRows& table, const uint8_t* src, uint8_t* dst, int first, int end,
                       const uint8_t* mask = nullptr);
// The fastest of the two this processor runs.
void correctRows(const CorrectionRows& table, const uint8_t* src, uint8_t* dst, int first, int end,
                 const uint8_t* mask = nullptr);

inline size_t correctionSlack(int width)
{
    // Below the last row, and the bytes a group reads past its last pixel.
    return static_cast<size_t>(width) + 2 * CorrectionRows::kGroup;
}
