#include "support/writers/LayerImages.h"

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

std::vector<uint8_t> noiseLayer(int width, int height, unsigned seed)
{
    std::vector<uint8_t> image(static_cast<size_t>(width) * height);
    std::mt19937 random(seed);
    for (uint8_t& pixel : image)
        pixel = static_cast<uint8_t>(random());
    return image;
}

} // namespace testwriters
