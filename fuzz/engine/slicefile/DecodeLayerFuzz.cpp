// decodeLayerData against a plain reference decoder. Input: mode byte, pixel
// count (u16), length adjustment, then either a whole raster block (mode bit
// 0 clear) or a pair stream that is compressed here (set), so that both zlib
// faults and pixel faults are reached.
#include "engine/slicefile/LayerDecoder.h"

#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int referenceDecode(uint8_t* dst, int n, const std::string& block)
{
    if (block.size() < 4)
        return -1;
    const auto* b = reinterpret_cast<const uint8_t*>(block.data());
    const uint32_t stated = b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;
    if (stated > 2 * uint64_t(n) + 1)
        return -ECHILD;
    // One spare byte: uncompress into no room at all takes a 1-byte stream for an empty one.
    std::vector<uint8_t> pairs(stated + 1);
    uLongf length = stated + 1;
    if (uncompress(pairs.data(), &length, b + 4, block.size() - 4) != Z_OK || length > stated)
        return -1;
    if (length != stated)
        return -ENOENT;
    int written = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        for (int k = 0; k <= pairs[i + 1]; ++k) {
            if (written == n)
                return -ECHILD;
            dst[written++] = pairs[i];
        }
    return written == n ? 0 : -ESRCH;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int pixels = data[1] | data[2] << 8;
    const auto adjust = static_cast<int8_t>(data[3]);
    std::string block(reinterpret_cast<const char*>(data + 4), size - 4);
    if (data[0] & 1) {
        uLongf compressed = compressBound(block.size());
        std::string out(4 + compressed, '\0');
        compress2(reinterpret_cast<Bytef*>(&out[4]), &compressed, reinterpret_cast<const Bytef*>(block.data()),
                  block.size(), (data[0] >> 4) % 10);
        out.resize(4 + compressed);
        const uint32_t stated = static_cast<uint32_t>(block.size() + ((data[0] & 2) ? adjust : 0));
        for (int i = 0; i < 4; ++i)
            out[i] = static_cast<char>(stated >> (8 * i));
        block.swap(out);
    }

    std::vector<uint8_t> decoded(pixels), expected(pixels);
    static std::vector<uint8_t> scratch; // kept between layers, as the image thread keeps it
    const int result = decodeLayerData(decoded.data(), pixels, scratch, block, static_cast<unsigned>(block.size()));
    const int reference = referenceDecode(expected.data(), pixels, block);
    if (result != reference || (result == 0 && decoded != expected))
        abort();
    return 0;
}
