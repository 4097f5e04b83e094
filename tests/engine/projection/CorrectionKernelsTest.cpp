// The correction table and both resampling loops against the bilinear
// formula computed here from the file's positions, pixel by pixel: warps that
// step columns and rows, sources scattered anywhere and outside, fractions at
// their extremes, uniform and mixed neighbourhoods, with and without a mask,
// on widths that end inside a group.
#include "engine/projection/CorrectionTable.h"
#include "writers/LayerImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Position = std::function<void(int x, int y, uint32_t& px, uint32_t& py)>;

struct Positions
{
    std::vector<uint32_t> x, y;
};

Positions positionsOf(int w, int h, const Position& position)
{
    Positions p{std::vector<uint32_t>(size_t(w) * h), std::vector<uint32_t>(size_t(w) * h)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            position(x, y, p.x[size_t(y) * w + x], p.y[size_t(y) * w + x]);
    return p;
}

// Bilinear sampling in millionths; a source outside the image is black,
// neighbours past the last column or row repeat it; then the mask.
std::vector<uint8_t> expected(const std::vector<uint8_t>& src, int w, int h, const Positions& p,
                              const std::vector<uint8_t>& mask)
{
    std::vector<uint8_t> out(size_t(w) * h, 0);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint64_t qx = p.x[i] / 1000000, qy = p.y[i] / 1000000;
        if (qx < 1 || qx > uint64_t(w) || qy < 1 || qy > uint64_t(h))
            continue;
        const int sx = int(qx) - 1, sy = int(qy) - 1;
        const uint64_t fx = p.x[i] - qx * 1000000, fy = p.y[i] - qy * 1000000;
        const uint64_t w11 = fx * fy / 1000000, w10 = fx - w11, w01 = fy - w11, w00 = 1000000 - w11 - w10 - w01;
        auto s = [&](int cx, int cy) { return uint64_t{src[size_t(std::min(cy, h - 1)) * w + std::min(cx, w - 1)]}; };
        uint64_t v = (w00 * s(sx, sy) + w10 * s(sx + 1, sy) + w01 * s(sx, sy + 1) + w11 * s(sx + 1, sy + 1)) / 1000000;
        if (!mask.empty())
            v = (v * mask[i] + 254) / 255;
        out[i] = uint8_t(v);
    }
    return out;
}

using Loop = void (*)(const CorrectionRows&, const uint8_t*, uint8_t*, int, int, const uint8_t*);

void portable(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, int first, int end, const uint8_t* mask)
{
    correctRowsPortable(t, src, dst, first, end, mask);
}

void vector(const CorrectionRows& t, const uint8_t* src, uint8_t* dst, int first, int end, const uint8_t* mask)
{
    if (!correctRowsVector(t, src, dst, first, end, mask))
        correctRowsPortable(t, src, dst, first, end, mask); // no vector unit here: the portable loop stands in
}

struct Case
{
    std::string name;
    int w, h;
    Position position;
    std::vector<uint8_t> layer;
};

// Every loop over every case, the whole plane and a band of rows, with and
// without a mask; the source has exactly the slack the table asks for.
void checkAll(const Case& c)
{
    const Positions p = positionsOf(c.w, c.h, c.position);
    CorrectionTable table;
    ASSERT_EQ(CorrectionTable::kRead, table.build(p.x.data(), p.y.data(), c.w, c.h)) << c.name;
    std::vector<uint8_t> src(c.layer);
    src.resize(src.size() + table.sourceSlack(), 0x5A); // weighted 0 wherever it is read
    std::vector<uint8_t> mask(size_t(c.w) * c.h);
    for (size_t i = 0; i < mask.size(); ++i)
        mask[i] = uint8_t(i * 7919 % 256);
    const CorrectionRows rows = table.rows();
    for (const bool masked : {false, true}) {
        const std::vector<uint8_t> want = expected(c.layer, c.w, c.h, p, masked ? mask : std::vector<uint8_t>());
        for (const auto& [loopName, loop] : {std::pair<const char*, Loop>{"portable", portable}, {"vector", vector}}) {
            std::vector<uint8_t> out(size_t(c.w) * c.h, 0xEE);
            loop(rows, src.data(), out.data(), 0, c.h, masked ? mask.data() : nullptr);
            ASSERT_EQ(want, out) << c.name << ", " << loopName << (masked ? ", masked" : "");
            // A band in the middle: its rows exactly, nothing around them.
            const int first = c.h / 3, end = std::max(first + 1, 2 * c.h / 3);
            std::vector<uint8_t> band(size_t(c.w) * (end - first) + 1, 0xEE);
            loop(rows, src.data(), band.data(), first, end, masked ? mask.data() + size_t(c.w) * first : nullptr);
            ASSERT_EQ(0xEE, band.back()) << c.name << ", " << loopName;
            band.pop_back();
            ASSERT_TRUE(std::equal(band.begin(), band.end(), want.begin() + ptrdiff_t(c.w) * first))
                << c.name << ", " << loopName << ", band" << (masked ? ", masked" : "");
        }
    }
}

uint32_t millionths(double position)
{
    return uint32_t(std::max(0.0, std::min(4.0e9, std::floor(position * 1e6))));
}

// A projector's warp about the centre: scaled, turned, bowed, shifted; its
// sources step a column or a row every so often, and reach past the edges.
Position warp(int w, int h, double scale, double turn, double bow)
{
    return [=](int x, int y, uint32_t& px, uint32_t& py) {
        const double dx = x - w / 2.0, dy = y - h / 2.0;
        const double r = 1 + bow * (dx * dx + dy * dy) / (w * w / 4.0 + h * h / 4.0);
        px = millionths(w / 2.0 + (dx * std::cos(turn) - dy * std::sin(turn)) * scale * r + 1.3);
        py = millionths(h / 2.0 + (dx * std::sin(turn) + dy * std::cos(turn)) * scale * r + 0.8);
    };
}

} // namespace

TEST(CorrectionKernelsTest, WarpsOfAModelLayer)
{
    const int w = 333, h = 211; // rows end inside a group
    for (const auto& [name, position] : std::vector<std::pair<std::string, Position>>{
             {"gentle", warp(w, h, 1.003, 0.0017, 0.004)},
             {"strong", warp(w, h, 1.04, 0.05, 0.03)},
             {"shrunk into the middle", warp(w, h, 1.3, -0.02, 0.0)},
             {"enlarged past every edge", warp(w, h, 0.8, 0.01, -0.02)},
             {"identity", [](int x, int y, uint32_t& px, uint32_t& py) {
                  px = uint32_t(x + 1) * 1000000;
                  py = uint32_t(y + 1) * 1000000;
              }}})
        checkAll({name, w, h, position, testwriters::modelLayer(w, h, 2)});
}

TEST(CorrectionKernelsTest, ScatteredSourcesAndNoisyLayers)
{
    const int w = 61, h = 37;
    std::mt19937 random(7);
    std::vector<uint32_t> xs(size_t(w) * h), ys(xs.size());
    for (size_t i = 0; i < xs.size(); ++i) {
        // Anywhere, outside included (column or row 0, past the last).
        xs[i] = uint32_t(random() % uint32_t((w + 2) * 1000000));
        ys[i] = uint32_t(random() % uint32_t((h + 2) * 1000000));
    }
    const Position scattered = [&](int x, int y, uint32_t& px, uint32_t& py) {
        px = xs[size_t(y) * w + x];
        py = ys[size_t(y) * w + x];
    };
    checkAll({"scattered over a noise layer", w, h, scattered, testwriters::noiseLayer(w, h, 3)});
    checkAll({"scattered over a model layer", w, h, scattered, testwriters::modelLayer(w, h, 0)});
    checkAll({"gentle over a noise layer", w, h, warp(w, h, 1.01, 0.01, 0.01), testwriters::noiseLayer(w, h, 4)});
}

// Fractions from 0 to 999999 in both directions over neighbourhoods from
// black to white: every truncation of the weights and of the sum.
TEST(CorrectionKernelsTest, FractionsAtTheirExtremes)
{
    // Pairs whose product is a whole number of millions or just off one:
    // 2000 x 998500 and 41 x 902439 among them.
    const uint32_t fractions[] = {0,    1,      2,      499999, 500000, 500001, 999998,
                                  999999, 1000, 999000, 333333, 666667, 2000,   998500, 41, 902439};
    const int n = int(sizeof fractions / sizeof fractions[0]);
    const int w = n * n, h = 24;
    std::vector<uint8_t> layer(size_t(w) * h);
    const uint8_t levels[] = {0, 1, 254, 255, 128, 127};
    for (size_t i = 0; i < layer.size(); ++i)
        layer[i] = levels[(i * 5 + i / w * 3) % 6];
    const Position position = [&](int x, int y, uint32_t& px, uint32_t& py) {
        // Each pixel samples a neighbour a few places away, at its own fractions.
        px = uint32_t((x + y) % (w - 1) + 1) * 1000000 + fractions[x % n];
        py = uint32_t((y + x / n) % h + 1) * 1000000 + fractions[x / n];
    };
    checkAll({"extreme fractions", w, h, position, layer});

    // Where w11 is a whole number (2000 x 998500 / 1,000,000 = 1997) or
    // near one, and the neighbourhood turns one off in w11 into one off in
    // the pixel.
    const struct
    {
        uint32_t fx, fy;
        uint8_t s[4]; // the pixel, right, below, below right
    } exact[] = {{2000, 998500, {2, 127, 1, 0}}, {3994, 500000, {1, 0, 1, 2}}, {5000, 598800, {0, 127, 253, 2}}};
    const int cases = 3, ew = 40, eh = 3;
    std::vector<uint8_t> sources(size_t(ew) * eh, 0);
    for (int c = 0; c < cases; ++c)
        for (int k = 0; k < 4; ++k)
            sources[size_t(k / 2) * ew + 2 * c + k % 2] = exact[c].s[k];
    const Position onTheEdge = [&](int x, int, uint32_t& px, uint32_t& py) {
        const int c = x % cases;
        px = uint32_t(2 * c + 1) * 1000000 + exact[c].fx;
        py = 1000000 + exact[c].fy;
    };
    checkAll({"whole millions", ew, eh, onTheEdge, sources});
}

// A white layer under a mask (a full exposure) with the projected field
// shifted by every offset within a group, from each side: groups straddle
// the field's edge at every alignment, and their pixels outside the field
// stay black, however white the sources around them are.
TEST(CorrectionKernelsTest, WhiteUnderAMaskStopsAtTheFieldsEdge)
{
    for (const int w : {40, 43}) {
        const int h = 12;
        for (int shift = -9; shift <= 9; ++shift) {
            if (shift == 0)
                continue;
            for (const bool across : {true, false}) {
                const Position shifted = [=](int x, int y, uint32_t& px, uint32_t& py) {
                    // Positions before the first column or row are 0: outside.
                    px = uint32_t(std::max(0, x + 1 + (across ? shift : 0))) * 1000000;
                    py = uint32_t(std::max(0, y + 1 + (across ? 0 : shift))) * 1000000;
                };
                checkAll({std::to_string(w) + " wide, field moved " + std::to_string(shift) +
                              (across ? " across" : " down"),
                          w, h, shifted, std::vector<uint8_t>(size_t(w) * h, 255)});
            }
        }
    }
}

TEST(CorrectionKernelsTest, TablesSmallerThanAGroup)
{
    for (const auto& [w, h] : {std::pair{2, 2}, {3, 2}, {2, 3}, {7, 2}, {9, 2}}) {
        const Position shift = [](int x, int y, uint32_t& px, uint32_t& py) {
            px = uint32_t(x + 1) * 1000000 + 250000;
            py = uint32_t(y + 1) * 1000000 + 750000;
        };
        std::vector<uint8_t> layer(size_t(w) * h);
        for (size_t i = 0; i < layer.size(); ++i)
            layer[i] = uint8_t(40 * i + 3);
        checkAll({std::to_string(w) + " x " + std::to_string(h), w, h, shift, layer});
    }
}

// The table is what a layer streams: 6 bytes a pixel for a warp of a
// projector, sources listed whole only where no step reaches them.
TEST(CorrectionKernelsTest, TableSize)
{
    const int w = 640, h = 48;
    const Positions gentle = positionsOf(w, h, warp(w, h, 1.003, 0.0017, 0.004));
    CorrectionTable table;
    ASSERT_EQ(CorrectionTable::kRead, table.build(gentle.x.data(), gentle.y.data(), w, h));
    EXPECT_LE(table.bytes(), size_t(w) * h * 6 + size_t(w) * h / 4);
    EXPECT_EQ(CorrectionTable::kTooSmall, table.build(gentle.x.data(), gentle.y.data(), 1, 5));
}
