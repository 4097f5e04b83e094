#include "writers/CorrectionWriter.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace testwriters {

namespace {

void appendU32(std::string& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

std::string correctionFile(int width, int height, const CorrectionSource& source)
{
    const size_t count = size_t(width) * size_t(height);
    std::vector<uint32_t> xs(count), ys(count);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            source(x, y, xs[size_t(y) * width + x], ys[size_t(y) * width + x]);
    std::string bytes;
    bytes.reserve(count * 8);
    for (uint32_t v : xs)
        appendU32(bytes, v);
    for (uint32_t v : ys)
        appendU32(bytes, v);
    return bytes;
}

std::string identityCorrection(int width, int height)
{
    return shiftedCorrection(width, height, 0, 0);
}

std::string shiftedCorrection(int width, int height, int64_t dx, int64_t dy)
{
    return correctionFile(width, height, [dx, dy](int x, int y, uint32_t& sx, uint32_t& sy) {
        sx = static_cast<uint32_t>((x + 1) * int64_t{1000000} + dx);
        sy = static_cast<uint32_t>((y + 1) * int64_t{1000000} + dy);
    });
}

namespace {

void projectorSource(int width, int height, int x, int y, uint32_t& sx, uint32_t& sy)
{
    const double cx = width / 2.0, cy = height / 2.0;
    const double dx = x - cx, dy = y - cy;
    const double bow = 1 + 0.004 * (dx * dx + dy * dy) / (cx * cx + cy * cy);
    const double turn = 0.0017, scale = 1.003;
    const double px = cx + (dx * std::cos(turn) - dy * std::sin(turn)) * scale * bow + 0.3;
    const double py = cy + (dx * std::sin(turn) + dy * std::cos(turn)) * scale * bow - 0.2;
    // 1-based source positions in millionths; left of or above the image is 0.
    sx = static_cast<uint32_t>(std::max(0.0, std::floor((px + 1) * 1e6)));
    sy = static_cast<uint32_t>(std::max(0.0, std::floor((py + 1) * 1e6)));
}

} // namespace

std::string projectorCorrection(int width, int height)
{
    return correctionFile(width, height, [=](int x, int y, uint32_t& sx, uint32_t& sy) {
        projectorSource(width, height, x, y, sx, sy);
    });
}

} // namespace testwriters
