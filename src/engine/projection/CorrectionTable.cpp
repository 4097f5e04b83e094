#include "engine/projection/CorrectionTable.h"

#include "engine/projection/RowBands.h"

#include <endian.h>

#include <algorithm>
#include <new>

namespace {

constexpr uint32_t kOne = 1000000;
constexpr uint64_t kWeightMask = (1u << 20) - 1;
// Set in entries whose source lies inside the image; the others give black.
constexpr uint64_t kLive = uint64_t{1} << 60;
// Values read from the file at a time while the table is built.
constexpr size_t kChunk = 1 << 14;

} // namespace

CorrectionTable::Entry CorrectionTable::entryOf(uint32_t x, uint32_t y, int width, int height)
{
    const uint32_t qx = x / kOne;
    const uint32_t qy = y / kOne;
    if (qx < 1 || qx > uint32_t(width) || qy < 1 || qy > uint32_t(height))
        return Entry{0, {0, 0}}; // not live: black
    const uint32_t sx = qx - 1;
    const uint32_t sy = qy - 1;
    const uint32_t fx = x - qx * kOne;
    const uint32_t fy = y - qy * kOne;
    uint64_t w11 = uint64_t{fx} * fy / kOne;
    uint64_t w10 = fx - w11;
    uint64_t w01 = fy - w11;
    // Past the last column or row the image repeats its edge.
    if (sx == uint32_t(width) - 1) {
        w10 = 0;
        w11 = 0;
        w01 = fy;
    }
    if (sy == uint32_t(height) - 1) {
        w10 += w11;
        w01 = 0;
        w11 = 0;
    }
    const uint64_t packed = w10 | (w01 << 20) | (w11 << 40) | kLive;
    return Entry{sx + uint32_t(width) * sy, {uint32_t(packed), uint32_t(packed >> 32)}};
}

CorrectionTable::ReadResult CorrectionTable::build(const uint32_t* x, const uint32_t* y, int width, int height)
{
    if (width < 2 || height < 2)
        return kTooSmall;
    const size_t count = size_t(width) * size_t(height);
    std::vector<Entry> entries;
    if (uint64_t(width) * uint64_t(height) > entries.max_size())
        return kNoMemory; // more than this machine can address
    try {
        entries.resize(count);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    for (size_t i = 0; i < count; ++i)
        entries[i] = entryOf(x[i], y[i], width, height);
    m_entries.swap(entries);
    m_width = width;
    m_height = height;
    return kRead;
}

CorrectionTable::ReadResult CorrectionTable::read(FILE* file, int width, int height, size_t& got)
{
    got = 0;
    if (width < 2 || height < 2)
        return kTooSmall;
    const size_t count = size_t(width) * size_t(height);
    std::vector<Entry> entries;
    std::vector<uint32_t> chunk;
    if (uint64_t(width) * uint64_t(height) > entries.max_size())
        return kNoMemory; // more than this machine can address
    try {
        entries.resize(count);
        chunk.resize(std::min(count, kChunk));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    // The X array parks in the index fields until its Y values arrive.
    for (int pass = 0; pass < 2; ++pass) {
        got = 0;
        for (size_t done = 0; done < count;) {
            const size_t want = std::min(chunk.size(), count - done);
            const size_t bytes = fread(chunk.data(), 1, want * sizeof(uint32_t), file);
            got += bytes;
            if (bytes < want * sizeof(uint32_t))
                return pass == 0 ? kShortX : kShortY;
            for (size_t k = 0; k < want; ++k) {
                Entry& e = entries[done + k];
                const uint32_t value = le32toh(chunk[k]);
                if (pass == 0)
                    e.index = value;
                else
                    e = entryOf(e.index, value, width, height);
            }
            done += want;
        }
    }
    m_entries.swap(entries);
    m_width = width;
    m_height = height;
    return kRead;
}

void CorrectionTable::applyRows(const uint8_t* src, uint8_t* dst, int first, int end) const
{
    const size_t down = static_cast<size_t>(m_width);
    const size_t from = down * size_t(first);
    const size_t to = down * size_t(end);
    const Entry* e = m_entries.data() + from;
    for (size_t i = from; i < to; ++i, ++e) {
        const uint64_t packed = e->weights[0] | uint64_t{e->weights[1]} << 32;
        const uint32_t w10 = uint32_t(packed & kWeightMask);
        const uint32_t w01 = uint32_t((packed >> 20) & kWeightMask);
        const uint32_t w11 = uint32_t((packed >> 40) & kWeightMask);
        const uint32_t w00 = uint32_t(packed >> 60) * kOne - w10 - w01 - w11;
        const uint8_t* s = src + e->index;
        const uint32_t v = w00 * s[0] + w10 * s[1] + w01 * s[down] + w11 * s[down + 1];
        // The weights add up to one million, so v / 1,000,000 never passes 255.
        dst[i - from] = static_cast<uint8_t>(v / kOne);
    }
}

void CorrectionTable::apply(const uint8_t* src, uint8_t* dst) const
{
    forEachRowBand(m_height, [&](int first, int end) {
        applyRows(src, dst + size_t(m_width) * size_t(first), first, end);
    });
}
