// The mask grid's two ways of turning cells into a surface: a 3 x 3 blur of
// the blocks, and bilinear interpolation between the cell centres.
#include "engine/print/MaskGrid.h"

#include "engine/projection/MaskPixels.h"

#include <algorithm>
#include <vector>

using maskpixels::grayAt;
using maskpixels::grayByte;
using maskpixels::setGray;

namespace {

// The normalised 3 x 3 Gaussian of standard deviation 1.5, to six digits.
// Its weights add up to just under 1: a uniform level v comes out as v - 1.
constexpr float kCorner = 0.0947416f;
constexpr float kEdge = 0.118318f;
constexpr float kCentre = 0.147761f;

// The line through (a, va) and (b, vb), in single precision.
struct Line
{
    float base;
    float slope;

    Line(float a, float va, float b, float vb) : base(0), slope(b != a ? (vb - va) / (b - a) : 0.0f)
    {
        base = va - slope * a;
    }
    float at(int t) const { return base + slope * static_cast<float>(t); }
};

float clamped(float level)
{
    return level > 255.0f ? 255.0f : (level < 0.0f ? 0.0f : level);
}

// Fills out[0 .. n - 1] from samples at increasing positions: the samples'
// levels at their positions, straight lines between neighbours, and the
// first and last lines continued (clamped) to the ends.
void interpolateLine(std::vector<float>& out, const std::vector<int>& at, const std::vector<float>& level)
{
    const int n = static_cast<int>(out.size());
    const size_t m = at.size();
    auto put = [&](int t, float v) {
        if (t >= 0 && t < n)
            out[t] = v;
    };
    const Line first(at[0], level[0], at[1], level[1]);
    for (int t = 0; t < std::min(at[0], n); ++t)
        out[t] = clamped(first.at(t));
    for (size_t i = 0; i + 1 < m; ++i) {
        put(at[i], level[i]);
        const Line between(at[i], level[i], at[i + 1], level[i + 1]);
        for (int t = std::max(at[i] + 1, 0); t < std::min(at[i + 1], n); ++t)
            out[t] = between.at(t);
        put(at[i + 1], level[i + 1]);
    }
    const Line last(at[m - 2], level[m - 2], at[m - 1], level[m - 1]);
    for (int t = std::max(at[m - 1] + 1, 0); t < n; ++t)
        out[t] = clamped(last.at(t));
}

} // namespace

void MaskGrid::smoothImage(QImage& image)
{
    if (image.format() != QImage::Format_RGB888)
        return;
    const int w = image.width();
    const int h = image.height();
    QImage out(w, h, QImage::Format_RGB888);
    if (out.isNull())
        return;
    out.fill(0);
    for (int y = 1; y + 1 < h; ++y) {
        const uint8_t* above = image.constScanLine(y - 1);
        const uint8_t* row = image.constScanLine(y);
        const uint8_t* below = image.constScanLine(y + 1);
        uint8_t* target = out.scanLine(y);
        for (int x = 1; x + 1 < w; ++x) {
            const int l = 3 * (x - 1), c = 3 * x, r = 3 * (x + 1);
            float s = above[l] * kCorner;
            s += above[c] * kEdge;
            s += above[r] * kCorner;
            s += row[l] * kEdge;
            s += row[c] * kCentre;
            s += row[r] * kEdge;
            s += below[l] * kCorner;
            s += below[c] * kEdge;
            s += below[r] * kCorner;
            target[c] = target[c + 1] = target[c + 2] = grayByte(s);
        }
    }
    image = out;
}

void MaskGrid::interpolate(QImage& image, const QVector<MaskCell>& cells, int columns, int rows)
{
    if (image.format() != QImage::Format_RGB888 || columns <= 1 || rows <= 1 || cells.size() <= 3 ||
        cells.size() < columns * rows)
        return;
    const int w = image.width();
    const int h = image.height();

    // Down each cell column, through the cells' centres, into the pixel
    // column of the first row's centre.
    std::vector<float> column(static_cast<size_t>(h));
    std::vector<int> at(static_cast<size_t>(rows));
    std::vector<float> level(static_cast<size_t>(rows));
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            at[r] = cells[r * columns + c].y;
            level[r] = cells[r * columns + c].value;
        }
        interpolateLine(column, at, level);
        const int x = cells[c].x;
        if (x < 0 || x >= w)
            continue;
        for (int t = 0; t < h; ++t)
            setGray(image, x, t, grayByte(column[t]));
    }

    // Across every line, through those pixel columns.
    std::vector<float> line(static_cast<size_t>(w));
    at.resize(static_cast<size_t>(columns));
    level.resize(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i)
        at[i] = cells[i].x;
    for (int t = 0; t < h; ++t) {
        for (int i = 0; i < columns; ++i)
            level[i] = (at[i] >= 0 && at[i] < w) ? grayAt(image, at[i], t) : 0.0f;
        interpolateLine(line, at, level);
        for (int x = 0; x < w; ++x)
            setGray(image, x, t, grayByte(line[x]));
    }
}
