#include "engine/projection/CorrectionTable.h"

#include <endian.h>

#include <algorithm>
#include <limits>
#include <new>

namespace {

constexpr uint32_t kOne = 1000000;
constexpr int kGroup = CorrectionRows::kGroup;
// Values read from the file at a time while the table is built.
constexpr size_t kChunk = 1 << 14;

// The steps a code stands for, in a table `width` pixels wide: the same
// source column, one back or on, a row up or down, a row and one on. Code 7
// marks a listed group.
void fillSteps(int32_t (&steps)[kGroup], int width)
{
    const int32_t w = width;
    const int32_t table[kGroup] = {0, -1, 1, -w, w, 1 - w, w + 1, 0};
    std::copy(table, table + kGroup, steps);
}

// One pixel of the table before it is packed.
struct Pixel
{
    bool live = false;
    uint32_t source = 0;
    uint32_t fx = 0, fy = 0;
};

Pixel pixelOf(uint32_t x, uint32_t y, int width, int height)
{
    Pixel p;
    const uint32_t qx = x / kOne;
    const uint32_t qy = y / kOne;
    if (qx < 1 || qx > uint32_t(width) || qy < 1 || qy > uint32_t(height))
        return p; // not live: black
    const uint32_t sx = qx - 1;
    const uint32_t sy = qy - 1;
    p.live = true;
    p.source = sx + uint32_t(width) * sy;
    // Past the last column or row the image repeats its edge: the weight
    // that would reach past it goes to the pixel on the edge.
    p.fx = sx == uint32_t(width) - 1 ? 0 : x - qx * kOne;
    p.fy = sy == uint32_t(height) - 1 ? 0 : y - qy * kOne;
    return p;
}

} // namespace

// Takes the pixels in row-major order and packs each group of eight once it
// is whole (a row's last group is padded with black pixels).
class CorrectionTable::Builder
{
public:
    Builder(CorrectionTable& table, int width, int height)
        : m_table(table), m_width(width), m_pixels(int64_t(width) * height)
    {
        fillSteps(m_steps, width);
    }

    void add(const Pixel& p)
    {
        m_lanes[m_lane++] = p;
        if (++m_x == m_width) {
            while (m_lane < kGroup)
                m_lanes[m_lane++] = Pixel();
            m_x = 0;
        }
        if (m_lane == kGroup) {
            pack();
            m_lane = 0;
        }
    }

private:
    bool inPlane(int64_t index) const { return index >= 0 && index < m_pixels; }

    // The code of `source` for lane k of a group based at `base`, or kListedCode.
    uint32_t codeOf(int64_t base, int k, int64_t source) const
    {
        for (uint32_t c = 0; c < CorrectionRows::kListedCode; ++c)
            if (base + k + m_steps[c] == source)
                return c;
        return CorrectionRows::kListedCode;
    }

    // The codes of a group, or false when some live source needs listing.
    bool encode(int64_t base, uint32_t (&codes)[kGroup]) const
    {
        if (m_pixels < kGroup)
            return false; // no eight consecutive sources fit the plane
        uint32_t firstLive = 0;
        for (int k = kGroup - 1; k >= 0; --k)
            if (m_lanes[k].live)
                firstLive = codeOf(base, k, m_lanes[k].source);
        for (int k = 0; k < kGroup; ++k) {
            if (m_lanes[k].live) {
                codes[k] = codeOf(base, k, m_lanes[k].source);
                if (codes[k] == CorrectionRows::kListedCode)
                    return false;
            } else {
                // A black pixel reads any source: the one of its neighbour's
                // code keeps the group in as few runs as possible.
                const uint32_t code = k == 0 ? firstLive : codes[k - 1];
                codes[k] = inPlane(base + k + m_steps[code]) ? code : 0;
            }
        }
        // Two runs are read as two rows of eight consecutive sources: both
        // must lie in the plane.
        const uint32_t last = codes[kGroup - 1];
        bool twoRuns = last != 0;
        for (uint32_t code : codes)
            twoRuns = twoRuns && (code == 0 || code == last);
        return !twoRuns || (inPlane(base + m_steps[last]) && inPlane(base + m_steps[last] + kGroup - 1));
    }

    void pack()
    {
        int64_t base = 0;
        for (int k = 0; k < kGroup; ++k)
            if (m_lanes[k].live) {
                base = int64_t(m_lanes[k].source) - k;
                break;
            }
        base = std::max<int64_t>(0, std::min<int64_t>(base, m_pixels - kGroup));
        uint32_t codes[kGroup];
        uint32_t group = uint32_t(base);
        if (!encode(base, codes)) {
            group = CorrectionRows::kListed | uint32_t(m_table.m_listed.size());
            for (int k = 0; k < kGroup; ++k) {
                m_table.m_listed.push_back(m_lanes[k].live ? m_lanes[k].source : 0);
                codes[k] = CorrectionRows::kListedCode;
            }
        }
        uint32_t lanes = 0;
        CorrectionRows::Fractions& fractions = m_table.m_fractions[m_group];
        for (int k = 0; k < kGroup; ++k) {
            const Pixel& p = m_lanes[k];
            lanes |= (codes[k] | (p.live ? CorrectionRows::kLive : 0)) << (4 * k);
            fractions.low[k] = p.fx | (p.fy & 0xFFF) << 20;
            fractions.high[k] = uint8_t(p.fy >> 12);
        }
        m_table.m_groups[m_group] = CorrectionRows::Group{group, lanes};
        ++m_group;
    }

    CorrectionTable& m_table;
    const int m_width;
    const int64_t m_pixels;
    int32_t m_steps[kGroup];
    Pixel m_lanes[kGroup];
    int m_lane = 0;
    int m_x = 0;
    size_t m_group = 0;
};

namespace {

// Rows padded to whole groups.
size_t groupsPerRow(int width)
{
    return (size_t(width) + kGroup - 1) / kGroup;
}

// Whether a table of width x height pixels fits what this machine can
// address: a 32-bit board cannot hold the largest panel a file may claim.
bool addressable(int width, int height)
{
    const uint64_t pixels = uint64_t(width) * uint64_t(height);
    const uint64_t groups = (uint64_t(width) + kGroup - 1) / kGroup * uint64_t(height);
    return pixels <= std::numeric_limits<size_t>::max() &&
           groups <= std::vector<CorrectionRows::Fractions>().max_size();
}

} // namespace

size_t CorrectionTable::bytes() const
{
    return m_groups.size() * sizeof(CorrectionRows::Group) + m_fractions.size() * sizeof(CorrectionRows::Fractions) +
           m_listed.size() * sizeof(uint32_t);
}

CorrectionRows CorrectionTable::rows() const
{
    CorrectionRows r;
    r.groups = m_groups.data();
    r.fractions = m_fractions.data();
    r.listed = m_listed.data();
    fillSteps(r.steps, m_width);
    r.width = m_width;
    r.pixels = size_t(m_width) * size_t(m_height);
    r.groupsPerRow = groupsPerRow(m_width);
    return r;
}

CorrectionTable::ReadResult CorrectionTable::build(const uint32_t* x, const uint32_t* y, int width, int height)
{
    if (width < 2 || height < 2)
        return kTooSmall;
    if (!addressable(width, height))
        return kNoMemory;
    CorrectionTable table;
    try {
        const size_t groups = groupsPerRow(width) * size_t(height);
        table.m_groups.resize(groups);
        table.m_fractions.resize(groups);
        Builder builder(table, width, height);
        const size_t count = size_t(width) * size_t(height);
        for (size_t i = 0; i < count; ++i)
            builder.add(pixelOf(x[i], y[i], width, height));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    table.m_width = width;
    table.m_height = height;
    *this = std::move(table);
    return kRead;
}

CorrectionTable::ReadResult CorrectionTable::read(FILE* file, int width, int height, size_t& got)
{
    got = 0;
    if (width < 2 || height < 2)
        return kTooSmall;
    if (!addressable(width, height))
        return kNoMemory;
    const size_t count = size_t(width) * size_t(height);
    const size_t rowGroups = groupsPerRow(width);
    CorrectionTable table;
    std::vector<uint32_t> chunk;
    try {
        table.m_groups.resize(rowGroups * size_t(height));
        table.m_fractions.resize(table.m_groups.size());
        chunk.resize(std::min(count, kChunk));
        Builder builder(table, width, height);
        // The X array parks in the fraction words until its Y values arrive.
        for (int pass = 0; pass < 2; ++pass) {
            got = 0;
            for (size_t done = 0; done < count;) {
                const size_t want = std::min(chunk.size(), count - done);
                const size_t bytes = fread(chunk.data(), 1, want * sizeof(uint32_t), file);
                got += bytes;
                if (bytes < want * sizeof(uint32_t))
                    return pass == 0 ? kShortX : kShortY;
                for (size_t k = 0; k < want; ++k) {
                    const size_t i = done + k;
                    const size_t x = i % size_t(width);
                    uint32_t& parked =
                        table.m_fractions[i / size_t(width) * rowGroups + x / kGroup].low[x % kGroup];
                    const uint32_t value = le32toh(chunk[k]);
                    if (pass == 0)
                        parked = value;
                    else
                        builder.add(pixelOf(parked, value, width, height));
                }
                done += want;
            }
        }
        // Two arrays of a larger panel would pass as a warp of this one.
        if (fgetc(file) != EOF)
            return kTooLong;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    table.m_width = width;
    table.m_height = height;
    *this = std::move(table);
    return kRead;
}

void CorrectionTable::applyRows(const uint8_t* src, uint8_t* dst, int first, int end) const
{
    correctRows(rows(), src, dst, first, end);
}
