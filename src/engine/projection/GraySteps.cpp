#include "engine/projection/GraySteps.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// t / 255 for every t below 65535, without a division.
template <typename T>
inline T divideBy255(T t)
{
    return (t + 1 + (t >> 8)) >> 8;
}

} // namespace

void applyMask(uint8_t* plane, const uint8_t* mask, size_t count)
{
    size_t i = 0;
#if defined(__GNUC__)
    // Eight pixels at a time in 16-bit lanes: the product and the rounding fit.
    typedef uint8_t V8u8 __attribute__((vector_size(8)));
    typedef uint16_t V8u16 __attribute__((vector_size(16)));
    for (; i + 8 <= count; i += 8) {
        V8u8 v, m;
        memcpy(&v, plane + i, sizeof v);
        memcpy(&m, mask + i, sizeof m);
        const V8u16 product = __builtin_convertvector(v, V8u16) * __builtin_convertvector(m, V8u16) + 254;
        const V8u8 q = __builtin_convertvector(divideBy255(product), V8u8);
        memcpy(plane + i, &q, sizeof q);
    }
#endif
    for (; i < count; ++i)
        plane[i] = static_cast<uint8_t>(divideBy255(unsigned{plane[i]} * mask[i] + 254));
}

void reversePlane(uint8_t* plane, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        plane[i] = static_cast<uint8_t>(255 - plane[i]);
}

void mirrorPlane(uint8_t* plane, int width, int height, bool mirrorX, bool mirrorY)
{
    const size_t w = static_cast<size_t>(width);
    if (mirrorX)
        for (int y = 0; y < height; ++y)
            std::reverse(plane + w * y, plane + w * (y + 1));
    if (mirrorY)
        for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(plane + w * top, plane + w * (top + 1), plane + w * bottom);
}

void smoothPlane(const uint8_t* src, uint8_t* dst, int width, int height)
{
    const double centre = 0.147761;
    const double edge = 0.118318;
    const double corner = 0.0947416;
    if (width <= 0 || height <= 0)
        return;
    const size_t w = static_cast<size_t>(width);
    // Copies of the three source rows around the row being written, so that
    // dst may be src: a row is overwritten only after it was copied.
    std::vector<uint8_t> rows(3 * w);
    uint8_t* up = rows.data();
    uint8_t* mid = up + w;
    uint8_t* down = mid + w;
    memcpy(mid, src, w);
    if (height > 1)
        memcpy(down, src + w, w);
    memset(dst, 0, w);
    for (int y = 1; y + 1 < height; ++y) {
        std::swap(up, mid);
        std::swap(mid, down);
        memcpy(down, src + w * (y + 1), w);
        uint8_t* out = dst + w * y;
        out[0] = 0;
        for (size_t x = 1; x + 1 < w; ++x) {
            const double v = centre * mid[x] + edge * (up[x] + down[x] + mid[x - 1] + mid[x + 1]) +
                             corner * (up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1]);
            const int truncated = static_cast<int>(v);
            out[x] = static_cast<uint8_t>(truncated > 254 ? 255 : truncated);
        }
        out[w - 1] = 0;
    }
    if (height > 1)
        memset(dst + w * size_t(height - 1), 0, w);
}
