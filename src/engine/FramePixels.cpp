#include "engine/FramePixels.h"

#include <algorithm>
#include <cstring>

namespace {

int commonRows(int sourceHeight, const FrameTarget& frame)
{
    return std::max(0, std::min(sourceHeight, frame.height));
}

int commonColumns(int sourceWidth, const FrameTarget& frame)
{
    return std::max(0, std::min(sourceWidth, frame.width));
}

} // namespace

void writeGrayPlane(const uint8_t* plane, int width, int height, const FrameTarget& frame, int channel)
{
    const int rows = commonRows(height, frame);
    const int columns = commonColumns(width, frame);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* in = plane + size_t(width) * y;
        uint8_t* out = frame.bits + frame.stride * y;
        if (channel >= 1 && channel <= 3) {
            memset(out, 0, size_t(columns) * 3);
            out += channel - 1;
            for (int x = 0; x < columns; ++x, out += 3)
                *out = in[x];
        } else {
            for (int x = 0; x < columns; ++x, out += 3)
                out[0] = out[1] = out[2] = in[x];
        }
    }
}

void writeRgbImage(const QImage& image, const FrameTarget& frame, int channel)
{
    const int rows = commonRows(image.height(), frame);
    const int columns = commonColumns(image.width(), frame);
    const bool one = channel >= 1 && channel <= 3;
    for (int y = 0; y < rows; ++y) {
        uint8_t* out = frame.bits + frame.stride * y;
        if (image.format() == QImage::Format_RGB888) {
            const uint8_t* in = image.constScanLine(y);
            if (!one) {
                memcpy(out, in, size_t(columns) * 3);
                continue;
            }
            memset(out, 0, size_t(columns) * 3);
            for (int x = 0; x < columns; ++x)
                out[3 * x + channel - 1] = in[3 * x + channel - 1];
        } else {
            const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < columns; ++x, out += 3) {
                const QRgb p = in[x];
                out[0] = static_cast<uint8_t>(qRed(p));
                out[1] = static_cast<uint8_t>(qGreen(p));
                out[2] = static_cast<uint8_t>(qBlue(p));
                if (one)
                    for (int c = 0; c < 3; ++c)
                        if (c != channel - 1)
                            out[c] = 0;
            }
        }
    }
}

void grayFromRgb(const QImage& image, uint8_t* plane)
{
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* out = plane + size_t(width) * y;
        if (image.format() == QImage::Format_RGB888) {
            const uint8_t* in = image.constScanLine(y);
            for (int x = 0; x < width; ++x)
                out[x] = in[3 * x];
        } else {
            const QRgb* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < width; ++x)
                out[x] = static_cast<uint8_t>(qRed(in[x]));
        }
    }
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
