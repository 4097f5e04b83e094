#include "engine/projection/FramePixels.h"

#include "engine/projection/PixelRows.h"
#include "engine/projection/RowWorkers.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

int commonRows(int sourceHeight, const FrameTarget& frame)
{
    return std::max(0, std::min(sourceHeight, frame.height));
}

int commonColumns(int sourceWidth, const FrameTarget& frame)
{
    return std::max(0, std::min(sourceWidth, frame.width));
}

ByteMask keepBytes(int channel)
{
    if (channel >= 1 && channel <= 3) {
        ByteMask one{{0, 0, 0}};
        one.byte[channel - 1] = 0xFF;
        return one;
    }
    return ByteMask{{0xFF, 0xFF, 0xFF}};
}

// Paints a row segment of an RGB32 image black.
void clearRow(const QImage& image, int y, int left, int count)
{
    QRgb* row = reinterpret_cast<QRgb*>(const_cast<uchar*>(image.constScanLine(y))) + left;
    std::fill_n(row, count, qRgb(0, 0, 0));
}

// Paints the content black where it was not read (beyond a smaller frame).
void clearOutside(const QImage& image, const QRect& content, const QRect& read)
{
    const QRect all = content & image.rect();
    for (int y = all.top(); y <= all.bottom(); ++y) {
        if (y < read.top() || y > read.bottom()) {
            clearRow(image, y, all.left(), all.width());
        } else {
            clearRow(image, y, all.left(), std::max(0, read.left() - all.left()));
            clearRow(image, y, read.right() + 1, std::max(0, all.right() - read.right()));
        }
    }
}

void rgbToFrame(const QImage& image, const QRect& content, const FrameTarget& frame, int channel)
{
    const int rows = commonRows(image.height(), frame);
    const int columns = commonColumns(image.width(), frame);
    const QRect read = content & QRect(0, 0, columns, rows);
    const ByteMask keep = keepBytes(channel);
    const bool all = keep.byte[0] && keep.byte[1] && keep.byte[2];
    for (int y = 0; y < rows; ++y) {
        uint8_t* out = frame.bits + frame.stride * y;
        if (y < read.top() || y > read.bottom()) {
            memset(out, 0, size_t(columns) * 3);
            continue;
        }
        memset(out, 0, size_t(read.left()) * 3);
        memset(out + size_t(read.right() + 1) * 3, 0, size_t(columns - read.right() - 1) * 3);
        out += size_t(read.left()) * 3;
        if (image.format() != QImage::Format_RGB888) {
            const uint32_t* in = reinterpret_cast<const uint32_t*>(image.constScanLine(y)) + read.left();
            packRgb32Row(in, out, read.width(), keep);
        } else if (all) {
            memcpy(out, image.constScanLine(y) + size_t(read.left()) * 3, size_t(read.width()) * 3);
        } else {
            const uint8_t* in = image.constScanLine(y) + size_t(read.left()) * 3;
            for (int i = 0; i < read.width() * 3; ++i)
                out[i] = in[i] & keep.byte[i % 3];
        }
    }
}

template <bool Clear>
void rgbToGray(const QImage& image, const QRect& content, uint8_t* plane)
{
    const int width = image.width();
    const QRect read = content & image.rect();
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* out = plane + size_t(width) * y;
        if (y < read.top() || y > read.bottom()) {
            memset(out, 0, size_t(width));
            continue;
        }
        memset(out, 0, size_t(read.left()));
        memset(out + read.right() + 1, 0, size_t(width - read.right() - 1));
        if (image.format() != QImage::Format_RGB888) {
            const uint32_t* in = reinterpret_cast<const uint32_t*>(image.constScanLine(y)) + read.left();
            if (Clear)
                redOfRgb32RowClearing(const_cast<uint32_t*>(in), out + read.left(), read.width());
            else
                redOfRgb32Row(in, out + read.left(), read.width());
        } else {
            const uint8_t* in = image.constScanLine(y);
            for (int x = read.left(); x <= read.right(); ++x)
                out[x] = in[3 * x];
        }
    }
    if (Clear)
        clearOutside(image, content, read);
}

} // namespace

void writeGrayPlane(const uint8_t* plane, int width, int height, const FrameTarget& frame, int channel)
{
    const int rows = commonRows(height, frame);
    const int columns = commonColumns(width, frame);
    const ByteMask keep = keepBytes(channel);
    for (int y = 0; y < rows; ++y)
        expandGrayRow(plane + size_t(width) * y, frame.bits + frame.stride * y, columns, keep);
}

void writeGrayRows(int width, int height, const FrameTarget& frame, int channel, const RowSplit& split,
                   const std::function<const uint8_t*(int y, uint8_t* scratch)>& row)
{
    const int rows = commonRows(height, frame);
    const int columns = commonColumns(width, frame);
    const ByteMask keep = keepBytes(channel);
    const size_t rowBytes = size_t(std::max(width, 0));
    const auto piece = [&](int first, int end, int slot) {
        uint8_t* scratch = split.scratch + rowBytes * size_t(slot);
        for (int y = first; y < end; ++y)
            expandGrayRow(row(y, scratch), frame.bits + frame.stride * y, columns, keep);
    };
    split.workers.run(rows, split.minRows, std::ref(piece)); // by reference: nothing allocated per frame
}

void writeRgbImage(const QImage& image, const QRect& content, const FrameTarget& frame, int channel)
{
    rgbToFrame(image, content, frame, channel);
}

void grayFromRgb(const QImage& image, const QRect& content, uint8_t* plane)
{
    rgbToGray<false>(image, content, plane);
}

void moveGrayFromRgb(QImage& image, const QRect& content, uint8_t* plane)
{
    image.bits(); // detaches: the rows cleared are this image's own
    rgbToGray<true>(image, content, plane);
}

void packSubPixels(const uint8_t* plane, int width, int height, const FrameTarget& frame)
{
    const int rows = commonRows(height, frame);
    const int columns = commonColumns(width / 3, frame);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* in = plane + size_t(width) * y;
        uint8_t* out = frame.bits + frame.stride * y;
        for (int k = 0; k < columns; ++k, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
}
