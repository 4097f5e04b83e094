#pragma once

#include "engine/projection/CorrectionKernels.h"

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
// The table is the largest thing the layer path holds, and reading it is
// most of what correcting a layer costs, so a pixel takes 6 bytes: the
// fractions of its source position, its source as a small step from that of
// its group of eight, and whether it is lit (see CorrectionKernels.h).
// Sources that no step reaches are listed whole for their group. Where the
// four neighbours of a pixel are one value (most of a layer), the fractions
// are not even read.
class CorrectionTable
{
public:
    enum ReadResult : int {
        kRead = 0,
        kTooSmall = -1, // no 2 x 2 neighbourhood at this resolution
        kNoMemory = -2,
        kShortX = -3,   // `got` holds the bytes of the X array read
        kShortY = -4,   // the same for the Y array
        kTooLong = -5,  // more than the two arrays: a file for another panel
    };
    // Replaces the table by the one of a correction file for this resolution,
    // turning the file into entries while it is read: the file's arrays are
    // never held whole. Every entry is rebuilt: a source outside the image
    // makes its pixel black, and a source on the last column or row takes
    // its missing neighbours from that column or row. The file holds the two
    // arrays and nothing else. On failure the previous table stays.
    ReadResult read(FILE* file, int width, int height, size_t& got);
    // The same from position arrays in memory (width x height values each,
    // row-major by target pixel, host byte order).
    ReadResult build(const uint32_t* x, const uint32_t* y, int width, int height);
    bool isLoaded() const { return !m_groups.empty(); }
    size_t bytes() const;
    int height() const { return m_height; }

    // The pixels of rows [first, end), written from dst on. `src` is a plane of the
    // table's size followed by at least sourceSlack() readable bytes: the
    // neighbours a pixel on the last column or row reads there are weighted 0.
    void applyRows(const uint8_t* src, uint8_t* dst, int first, int end) const;
    // The whole plane.
    void apply(const uint8_t* src, uint8_t* dst) const { applyRows(src, dst, 0, m_height); }
    size_t sourceSlack() const { return correctionSlack(m_width); }

    // The layout the resampling loops read.
    CorrectionRows rows() const;

private:
    class Builder;

    int m_width = 0;
    int m_height = 0;
    std::vector<CorrectionRows::Group> m_groups; // rows padded to whole groups of eight
    std::vector<CorrectionRows::Fractions> m_fractions; // one per group
    std::vector<uint32_t> m_listed;                     // eight sources per listed group
};
