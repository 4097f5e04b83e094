#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Decodes a layer raster block of the "qds" file (u32 pair-stream length,
// then a zlib stream of (value, count) byte pairs, each a run of count + 1
// pixels) straight into `dst`, which holds `pixelCount` 8-bit pixels: a
// caller's image or frame buffer. Only the first `blockSize` bytes of `block`
// are read. `scratch` is the caller's working memory, kept between layers so
// that no layer allocates; it stays small whatever the block says.
//
// Returns 0 when the runs fill the pixels exactly; -1 when the block is
// shorter than its length field or is not a valid zlib stream of at most the
// stated length; -ENOENT when the stream ends before the stated length;
// -ESRCH when the runs leave pixels unwritten; -ECHILD when they would pass
// the last pixel, or the stated length is larger than any stream that fits
// the pixels. zlib faults take precedence over length faults, and those over
// pixel faults. On a non-zero result the pixels are unspecified. A stray
// final byte (an odd stream length) is ignored.
int decodeLayerData(uint8_t* dst, int pixelCount, std::vector<uint8_t>& scratch, const std::string& block,
                    unsigned blockSize);
