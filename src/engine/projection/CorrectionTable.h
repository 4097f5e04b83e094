#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The per-pixel resampling of the projection correction: for every panel
// pixel, the source pixel it is sampled from and four bilinear weights in
// millionths. Built once per correction file, so that correcting a layer is
// one pass of integer multiply-adds.
//
// Correction file values are source positions x 1,000,000: the integer part
// is the 1-based source column (X) or row (Y), the rest the fraction.
class CorrectionTable
{
public:
    // Replaces the table by the one of these position arrays (width x height
    // values each, row-major by target pixel). Every entry is rebuilt: a
    // source outside the image makes its pixel black, and a source on the
    // last column or row takes its missing neighbours from that column or
    // row. 0, or -1 for a resolution without a 2 x 2 neighbourhood, or -2
    // when the table cannot be allocated (the previous table stays).
    int build(const uint32_t* x, const uint32_t* y, int width, int height);
    bool isLoaded() const { return !m_entries.empty(); }

    // dst[i] for every pixel i. `src` is a plane of the table's size followed
    // by at least sourceSlack() readable bytes: the neighbours a pixel on the
    // last column or row reads there are weighted 0.
    void apply(const uint8_t* src, uint8_t* dst) const;
    size_t sourceSlack() const { return static_cast<size_t>(m_width) + 1; }

    struct Entry
    {
        uint32_t index; // the sampled pixel; its right, lower and lower-right neighbours follow
        uint32_t w00, w10, w01, w11;
    };
    const Entry& entry(size_t pixel) const { return m_entries[pixel]; }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<Entry> m_entries;
};
