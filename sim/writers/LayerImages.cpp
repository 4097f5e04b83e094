#include "writers/LayerImages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace testwriters {

std::vector<uint8_t> shapesLayer(int width, int height, unsigned seed, int shapes)
{
    std::vector<uint8_t> image(static_cast<size_t>(width) * height, 0);
    std::mt19937 random(seed);
    const int smallest = std::max(4, std::min(width, height) / 40);
    const int largest = std::max(smallest + 1, std::min(width, height) / 8);
    std::uniform_int_distribution<int> size(smallest, largest);
    std::uniform_int_distribution<int> x(0, width - 1), y(0, height - 1);
    for (int s = 0; s < shapes; ++s) {
        const int cx = x(random), cy = y(random), r = size(random);
        const bool disc = s % 2 == 0;
        for (int row = std::max(0, cy - r); row < std::min(height, cy + r); ++row) {
            int half = r;
            if (disc)
                half = static_cast<int>(std::sqrt(static_cast<double>(r) * r - static_cast<double>(row - cy) * (row - cy)));
            const int from = std::max(0, cx - half), to = std::min(width, cx + half);
            if (from >= to)
                continue;
            uint8_t* line = image.data() + static_cast<size_t>(row) * width;
            memset(line + from, 255, static_cast<size_t>(to - from));
            if (disc) {
                if (from > 0 && line[from - 1] == 0)
                    line[from - 1] = 128;
                if (to < width && line[to] == 0)
                    line[to] = 128;
            }
        }
    }
    return image;
}

namespace {

// Paints a round shape into the image, keeping the brighter of old and new:
// pixels whose distance from the centre lies in [inner, outer] are covered,
// with one pixel of anti-aliasing on each edge. inner <= 0: a solid disc.
void paintRing(std::vector<uint8_t>& image, int width, int height, double cx, double cy, double outer, double inner)
{
    const int top = std::max(0, int(cy - outer - 1)), bottom = std::min(height, int(cy + outer + 2));
    const int left = std::max(0, int(cx - outer - 1)), right = std::min(width, int(cx + outer + 2));
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            double cover = std::min(1.0, std::max(0.0, outer - d + 0.5));
            if (inner > 0)
                cover = std::min(cover, std::max(0.0, std::min(1.0, d - inner + 0.5)));
            uint8_t& pixel = image[size_t(y) * width + x];
            pixel = std::max(pixel, static_cast<uint8_t>(std::lround(cover * 255)));
        }
}

} // namespace

std::vector<uint8_t> modelLayer(int width, int height, int layer)
{
    std::vector<uint8_t> image(static_cast<size_t>(width) * height, 0);
    const double unit = std::min(width, height) / 100.0; // a percent of the short side
    const double grow = 1.0 + 0.02 * (layer % 10);       // parts widen and narrow layer by layer
    std::mt19937 random(1234);                           // the same plate on every layer
    std::uniform_real_distribution<double> jitter(-3, 3);
    // Three rows of five parts; every other one hollow.
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 5; ++column) {
            const double cx = width * (column + 0.5) / 5 + jitter(random) * unit;
            const double cy = height * (row + 0.5) / 3 + jitter(random) * unit;
            const double outer = (7 + jitter(random) / 2) * unit * grow;
            const bool hollow = (row + column) % 2 == 1;
            paintRing(image, width, height, cx, cy, outer, hollow ? outer - 1.2 * unit : 0);
            // Supports around the part, on a grid, as thin as a slicer makes them.
            for (int s = 0; s < 12; ++s) {
                const double angle = s * 3.14159265 / 6 + layer * 0.01;
                paintRing(image, width, height, cx + std::cos(angle) * (outer + 3 * unit),
                          cy + std::sin(angle) * (outer + 3 * unit), 0.35 * unit, 0);
            }
        }
    return image;
}

std::vector<uint8_t> noiseLayer(int width, int height, unsigned seed)
{
    std::vector<uint8_t> image(static_cast<size_t>(width) * height);
    std::mt19937 random(seed);
    for (uint8_t& pixel : image)
        pixel = static_cast<uint8_t>(random());
    return image;
}

} // namespace testwriters
