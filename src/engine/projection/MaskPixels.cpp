#include "engine/projection/MaskPixels.h"

#include <QVector>

#include <cstring>

namespace maskpixels {

void fillRect(QImage& image, const QRect& area, uint8_t gray)
{
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        memset(image.scanLine(y) + 3 * inside.left(), gray, 3 * size_t(inside.width()));
}

QImage grayImage(const QImage& image)
{
    QImage gray(image.size(), QImage::Format_Indexed8);
    if (gray.isNull())
        return gray;
    QVector<QRgb> table(256);
    for (int v = 0; v < 256; ++v)
        table[v] = qRgb(v, v, v);
    gray.setColorTable(table);
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* out = gray.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            out[x] = grayAt(image, x, y);
    }
    return gray;
}

} // namespace maskpixels
