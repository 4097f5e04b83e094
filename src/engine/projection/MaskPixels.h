#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>

// Pixel helpers of the mask grid, on 24-bit RGB images whose three bytes
// hold one gray level. Rows are addressed through the image's own line
// length (widths whose rows are padded work as well).
namespace maskpixels {

// A gray level as a pixel byte: truncated, clamped to 0..255 (NaN gives 0).
inline uint8_t grayByte(float level)
{
    if (!(level > 0.0f))
        return 0;
    if (level >= 255.0f)
        return 255;
    return static_cast<uint8_t>(level);
}

// Gray level of pixel (x, y): its first byte.
inline uint8_t grayAt(const QImage& image, int x, int y)
{
    return image.constScanLine(y)[3 * x];
}

inline void setGray(QImage& image, int x, int y, uint8_t gray)
{
    uint8_t* p = image.scanLine(y) + 3 * x;
    p[0] = p[1] = p[2] = gray;
}

// Fills the part of `area` inside the image with one gray level.
void fillRect(QImage& image, const QRect& area, uint8_t gray);
// The gray levels as an 8-bit image with a 256-gray colour table.
QImage grayImage(const QImage& image);

} // namespace maskpixels
