#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// The per-pixel resampling of the projection correction: for every panel
// pixel, the source pixel it is sampled from and bilinear weights in
// millionths. Built once per correction file, so that correcting a layer is
// one pass of integer multiply-adds.
//
// Correction file values are source positions x 1,000,000: the integer part
// is the 1-based source column (X) or row (Y), the rest the fraction.
//
// An entry takes 12 bytes: the source index and three 20-bit weights; the
// fourth is what is left of one million. The table is the largest thing the
// layer path holds, and reading it is most of what correcting a layer costs.
class CorrectionTable
{
public:
    enum ReadResult : int {
        kRead = 0,
        kTooSmall = -1, // no 2 x 2 neighbourhood at this resolution
        kNoMemory = -2,
        kShortX = -3,   // `got` holds the bytes of the X array read
        kShortY = -4,   // the same for the Y array
    };
    // Replaces the table by the one of a correction file for this resolution,
    // turning the file into entries while it is read: the file's arrays are
    // never held whole. Every entry is rebuilt: a source outside the image
    // makes its pixel black, and a source on the last column or row takes
    // its missing neighbours from that column or row. On failure the
    // previous table stays.
    ReadResult read(FILE* file, int width, int height, size_t& got);
    // The same from position arrays in memory (width x height values each,
    // row-major by target pixel, host byte order).
    ReadResult build(const uint32_t* x, const uint32_t* y, int width, int height);
    bool isLoaded() const { return !m_entries.empty(); }
    size_t bytes() const { return m_entries.size() * sizeof(Entry); }

    // The pixels of rows [first, end), written from dst on. `src` is a plane of the
    // table's size followed by at least sourceSlack() readable bytes: the
    // neighbours a pixel on the last column or row reads there are weighted 0.
    void applyRows(const uint8_t* src, uint8_t* dst, int first, int end) const;
    // The whole plane, rows split across the processor's cores.
    void apply(const uint8_t* src, uint8_t* dst) const;
    size_t sourceSlack() const { return static_cast<size_t>(m_width) + 1; }

private:
    struct Entry
    {
        uint32_t index;      // the sampled pixel; its right, lower and lower-right neighbours follow
        uint32_t weights[2]; // w10, w01, w11: 20 bits each, from the lowest bit up
    };
    static_assert(sizeof(Entry) == 12, "a correction entry is 12 bytes");

    static Entry entryOf(uint32_t x, uint32_t y, int width, int height);

    int m_width = 0;
    int m_height = 0;
    std::vector<Entry> m_entries;
};
