#include "engine/projection/CorrectionTable.h"

#include <new>

namespace {

constexpr uint32_t kOne = 1000000;

} // namespace

int CorrectionTable::build(const uint32_t* x, const uint32_t* y, int width, int height)
{
    if (width < 2 || height < 2)
        return -1;
    const size_t count = size_t(width) * size_t(height);
    if (m_entries.size() != count) {
        try {
            std::vector<Entry> entries(count);
            m_entries.swap(entries);
        } catch (const std::bad_alloc&) {
            return -2;
        }
    }
    m_width = width;
    m_height = height;

    for (size_t i = 0; i < count; ++i) {
        Entry& e = m_entries[i];
        e = Entry{0, 0, 0, 0, 0};
        const uint32_t qx = x[i] / kOne;
        const uint32_t qy = y[i] / kOne;
        if (qx < 1 || qx > uint32_t(width) || qy < 1 || qy > uint32_t(height))
            continue;
        const uint32_t sx = qx - 1;
        const uint32_t sy = qy - 1;
        const uint32_t fx = x[i] - qx * kOne;
        const uint32_t fy = y[i] - qy * kOne;
        e.index = sx + uint32_t(width) * sy;
        e.w11 = static_cast<uint32_t>(uint64_t{fx} * fy / kOne);
        e.w10 = fx - e.w11;
        e.w01 = fy - e.w11;
        e.w00 = kOne - e.w11 - e.w10 - e.w01;
        // Past the last column or row the image repeats its edge.
        if (sx == uint32_t(width) - 1) {
            e.w00 += e.w10;
            e.w01 += e.w11;
            e.w10 = e.w11 = 0;
        }
        if (sy == uint32_t(height) - 1) {
            e.w00 += e.w01;
            e.w10 += e.w11;
            e.w01 = e.w11 = 0;
        }
    }
    return 0;
}

void CorrectionTable::apply(const uint8_t* src, uint8_t* dst) const
{
    const size_t count = m_entries.size();
    const size_t down = static_cast<size_t>(m_width);
    const Entry* e = m_entries.data();
    for (size_t i = 0; i < count; ++i, ++e) {
        const uint8_t* s = src + e->index;
        const uint32_t v = e->w00 * s[0] + e->w10 * s[1] + e->w01 * s[down] + e->w11 * s[down + 1];
        // The weights add up to one million, so v / 1,000,000 never passes 255.
        dst[i] = static_cast<uint8_t>(v / kOne);
    }
}
