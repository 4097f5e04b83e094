#include "engine/slicefile/LayerDecoder.h"

#include "engine/slicefile/LittleEndian.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {

// Inflated pairs are expanded in pieces of this size, so the pair stream
// never sits whole in memory and each piece is still in cache when expanded;
// large enough that zlib's copy of its window per call stays a small cost.
constexpr size_t kChunk = 256 * 1024;
// The inflater's own memory, also in the scratch: its state (about 7 KiB)
// and its 32 KiB window.
constexpr size_t kInflaterBytes = 48 * 1024;
constexpr size_t kAlign = 16;
constexpr size_t kChunkRoom = (kChunk + 2 + kAlign - 1) / kAlign * kAlign;

// Hands the inflater pieces of the scratch instead of the heap; nothing is
// given back until the next layer starts from the beginning again.
struct Arena
{
    uint8_t* next;
    uint8_t* end;

    static voidpf take(voidpf opaque, uInt items, uInt size)
    {
        Arena* arena = static_cast<Arena*>(opaque);
        const size_t bytes = (size_t{items} * size + kAlign - 1) / kAlign * kAlign;
        if (size_t(arena->end - arena->next) < bytes)
            return Z_NULL; // the inflater reports Z_MEM_ERROR
        uint8_t* piece = arena->next;
        arena->next += bytes;
        return piece;
    }
    static void giveBack(voidpf, voidpf) {}
};

// Expands whole pairs of [p, end) into [out, outEnd). Returns the position
// after the last pair taken (a lone final byte is left); sets `overflow` when
// a run would pass outEnd, after filling the pixels up to it.
const uint8_t* expandPairs(const uint8_t* p, const uint8_t* end, uint8_t*& out, uint8_t* const outEnd,
                           bool& overflow)
{
    while (end - p >= 2) {
        // Lone pixels (noise, dithered edges): a tight loop, its bound taken
        // once; no call per pixel.
        const size_t fits = std::min(static_cast<size_t>(end - p) / 2, static_cast<size_t>(outEnd - out));
        const uint8_t* const stop = p + 2 * fits;
        while (p < stop && p[1] == 0) {
            *out++ = p[0];
            p += 2;
        }
        if (end - p < 2)
            break;
        // A run; neighbouring pairs of its value (long runs of the
        // background) become one fill.
        const uint8_t value = p[0];
        size_t run = size_t{p[1]} + 1;
        p += 2;
        while (end - p >= 2 && p[0] == value) {
            run += size_t{p[1]} + 1;
            p += 2;
        }
        const size_t room = static_cast<size_t>(outEnd - out);
        if (run > room) {
            if (room)
                memset(out, value, room);
            out += room;
            overflow = true;
            return p;
        }
        if (run <= 16 && room >= 16) {
            // A short run (an edge's few pixels): two plain stores instead of
            // a call; what they write past the run the next pairs overwrite.
            const uint64_t eight = value * 0x0101010101010101ull;
            memcpy(out, &eight, sizeof eight);
            memcpy(out + 8, &eight, sizeof eight);
        } else {
            memset(out, value, run);
        }
        out += run;
    }
    return p;
}

} // namespace

int decodeLayerData(uint8_t* dst, int pixelCount, std::vector<uint8_t>& scratch, const std::string& block,
                    unsigned blockSize)
{
    if (blockSize < 4 || blockSize > block.size() || pixelCount < 0)
        return -1;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(block.data());
    const uint64_t stated = le::u32(data);
    // Every pair makes at least one pixel: a longer stream cannot fit.
    if (stated > uint64_t{2} * static_cast<uint64_t>(pixelCount) + 1)
        return -ECHILD;

    // One spare byte beyond the stated length tells a longer stream apart.
    if (scratch.size() < kChunkRoom + kInflaterBytes + kAlign)
        scratch.resize(kChunkRoom + kInflaterBytes + kAlign);
    uint8_t* const chunk = scratch.data();
    uint8_t* const inflater = reinterpret_cast<uint8_t*>(
        (reinterpret_cast<uintptr_t>(chunk + kChunkRoom) + kAlign - 1) / kAlign * kAlign);
    Arena arena{inflater, inflater + kInflaterBytes};

    z_stream zs{};
    zs.zalloc = &Arena::take;
    zs.zfree = &Arena::giveBack;
    zs.opaque = &arena;
    zs.next_in = const_cast<Bytef*>(data + 4);
    zs.avail_in = blockSize - 4;
    if (inflateInit(&zs) != Z_OK)
        return -1;

    uint8_t* out = dst;
    uint8_t* const outEnd = dst + pixelCount;
    uint64_t produced = 0;
    size_t carried = 0; // a pair's value byte left from the previous piece
    bool overflow = false;
    int zresult = Z_OK;

    while (zresult == Z_OK) {
        const uint64_t wanted = std::min<uint64_t>(kChunk, stated - produced + 1);
        zs.next_out = chunk + carried;
        zs.avail_out = static_cast<uInt>(wanted);
        zresult = inflate(&zs, Z_NO_FLUSH);
        const size_t got = static_cast<size_t>(wanted - zs.avail_out);
        produced += got;
        if (produced > stated || (zresult != Z_OK && zresult != Z_STREAM_END))
            break;
        if (!overflow && got) {
            const uint8_t* end = chunk + carried + got;
            const uint8_t* rest = expandPairs(chunk, end, out, outEnd, overflow);
            carried = static_cast<size_t>(end - rest);
            if (carried)
                chunk[0] = *rest;
        }
    }
    inflateEnd(&zs);

    if (zresult != Z_STREAM_END || produced > stated)
        return -1;
    if (produced != stated)
        return -ENOENT;
    if (overflow)
        return -ECHILD;
    return out == outEnd ? 0 : -ESRCH;
}
