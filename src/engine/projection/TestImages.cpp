#include "engine/projection/TestImages.h"

#include "base/config/ConfigStore.h"
#include "base/config/SystemState.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"

#include <QPainter>
#include <QPolygon>
#include <QRectF>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace {

// A side longer than this is no panel of this machine: the configuration is damaged.
constexpr uint32_t kMaxSide = 32768;

const char* const kLabels = "A\nB\nC\nD\nE\nF\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18\n19\n";

const PrinterConfig& machine()
{
    return ConfigStore::instance()->m_printerConfig;
}

// Replaces `image` by a new one of the machine resolution: false (and a null
// image) when the configured resolution is no panel or memory ran out.
bool newPatternImage(QImage& image, QImage::Format format)
{
    const PrinterConfig& c = machine();
    image = QImage();
    if (c.XRes == 0 || c.YRes == 0 || c.XRes > kMaxSide || c.YRes > kMaxSide) {
        logger()->write(LogError, "Test image: no panel of %u x %u pixels", c.XRes, c.YRes);
        return false;
    }
    image = QImage(static_cast<int>(c.XRes), static_cast<int>(c.YRes), format);
    if (image.isNull()) {
        logger()->write(LogError, "Test image: no memory for %u x %u pixels", c.XRes, c.YRes);
        return false;
    }
    return true;
}

// The rectangle of pixels a..b across and c..d down, both ends included.
QRect span(int a, int b, int c, int d)
{
    return QRect(QPoint(a, c), QPoint(b, d));
}

// Saves a pattern on the USB disk: true when it was written. Without a disk
// there is nowhere to put it (the bare name would land in the root folder).
bool saveOnUsbDisk(const QImage& image, const char* name)
{
    const QString usbPath = SystemState::instance()->usbPath();
    if (usbPath.isEmpty())
        return false;
    const QString boardPath = usbPath + name;
    if (!image.save(QString::fromStdString(rootPath(boardPath.toUtf8().toStdString())), "PNG")) {
        logger()->write(LogWarn, "Test image not saved: %s", boardPath.toUtf8().constData());
        return false;
    }
    return true;
}

// Where the grid's lines cross one side of `size` pixels: the centre line,
// lines every `step` pixels out from it on both sides while they stay more
// than 2 pixels in, and the border lines 3 pixels in.
QVector<int> linePositions(int size, int step)
{
    QVector<int> at{size / 2 - 3};
    for (int p = size / 2 - 3 - step; step > 0 && p > 2; p -= step)
        at << p << (size - 3) - p;
    at << 3 << size - 3;
    return at;
}

} // namespace

void makeAbcImage(QImage& image, bool whiteBackground)
{
    if (!newPatternImage(image, QImage::Format_RGB888))
        return;
    const int w = image.width();
    const int h = image.height();
    const QColor background = whiteBackground ? Qt::white : Qt::black;
    const QColor drawing = whiteBackground ? Qt::black : Qt::white;
    image.fill(background);

    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(100);
    painter.setFont(font);
    QPen pen = painter.pen();
    pen.setWidth(3);
    pen.setBrush(QBrush(drawing, Qt::SolidPattern));
    painter.setPen(pen);
    painter.drawText(QRect(0, 0, w / 10, h), Qt::AlignRight | Qt::AlignTop, kLabels);
    painter.drawText(QRect(w / 2, 0, w / 10, h), Qt::AlignRight | Qt::AlignTop, kLabels);

    painter.fillRect(span(0, w - 1, 0, 4), drawing);
    painter.fillRect(span(0, w - 1, h - 5, h - 1), drawing);
    painter.fillRect(span(0, 4, 0, h - 1), drawing);
    painter.fillRect(span(w - 5, w - 1, 0, h - 1), drawing);

    // Two of these lie below a panel of 1080 rows; they show on taller ones.
    painter.fillRect(span(150, 150, 1750, 1999), drawing);
    painter.fillRect(span(151, 151, 2000, 2249), drawing);
    painter.fillRect(span(w / 2 + 150, w / 2 + 150, 500, 749), drawing);
    painter.fillRect(span(w / 2 + 151, w / 2 + 151, 750, 999), drawing);
    painter.end();

    if (saveOnUsbDisk(image, "/ABC.png"))
        platform().shell().run("sync");
}

void makeGridLineImage(QImage& image)
{
    if (!newPatternImage(image, QImage::Format_RGB888))
        return;
    const int w = image.width();
    const int h = image.height();
    // The spacing: the width in whole hundreds of pixels, times ten. Below
    // 100 pixels there is none, and only the centre and border lines remain.
    const int step = (w / 100) * 10;

    QVector<QLine> lines;
    for (const int x : linePositions(w, step))
        lines << QLine(x, 3, x, h - 3);
    for (const int y : linePositions(h, step))
        lines << QLine(3, y, w - 3, y);
    // The outline of the square from corner (3, 3) to corner (52, 52).
    lines << QLine(3, 3, 52, 3) << QLine(52, 3, 52, 52) << QLine(3, 52, 52, 52) << QLine(3, 3, 3, 52);

    // Every line is upright or level: drawn 3 pixels wide with square caps,
    // it covers one pixel more on every side. Filled as such, lines that
    // meet or overlap give exactly that, which a stroked pen does not always.
    image.fill(Qt::black);
    QPainter painter(&image);
    for (const QLine& line : lines)
        painter.fillRect(QRect(QPoint(std::min(line.x1(), line.x2()) - 1, std::min(line.y1(), line.y2()) - 1),
                               QPoint(std::max(line.x1(), line.x2()) + 1, std::max(line.y1(), line.y2()) + 1)),
                         Qt::white);
    painter.end();

    saveOnUsbDisk(image, "/black.png");
}

void makeStripeImage(QImage& image)
{
    if (!newPatternImage(image, QImage::Format_RGB888))
        return;
    const int cx = image.width() / 2;
    const int cy = image.height() / 2;
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int k = 0; k < 6; ++k)
        painter.fillRect(span(cx - 3 + k, cx - 3 + k, cy - 750 + 250 * k, cy - 551 + 250 * k), Qt::black);
    painter.end();

    saveOnUsbDisk(image, "/test.png");
}

void makeMidpointImage(QImage& image)
{
    if (!newPatternImage(image, QImage::Format_RGB888))
        return;
    const int cx = image.width() / 2;
    const int cy = image.height() / 2;
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.fillRect(span(0, 39, 0, 39), Qt::white);
    painter.fillRect(span(cx - 19, cx - 11, cy - 4, cy + 4), Qt::white);
    painter.fillRect(span(cx + 11, cx + 19, cy - 4, cy + 4), Qt::white);
    painter.fillRect(span(cx - 4, cx + 4, cy - 29, cy - 21), Qt::white);
    painter.fillRect(span(cx - 4, cx + 4, cy + 21, cy + 29), Qt::white);
    painter.end();
}

void makeBlockImage(QImage& image)
{
    if (!newPatternImage(image, QImage::Format_RGB888))
        return;
    QVector<QRect> blocks;
    for (int j = 0; j < 14; ++j)
        for (int i = 0; i < 20; ++i) {
            const int x = 5 + 100 * i;
            const int y = 3 + 82 * j;
            blocks << span(x, x + 7, y, y + 7);
        }
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
    painter.drawRects(blocks);
    painter.end();
}

void makeDotImage(QImage& image, int columns, int rows, float diameterMm, int x0, int y0, int xStep, int yStep,
                  int gray)
{
    if (!newPatternImage(image, QImage::Format_RGB888))
        return;
    image.fill(Qt::black);
    const double pixelsPerMm = image.width() / static_cast<double>(machine().Width);
    const double d = diameterMm * pixelsPerMm;
    const double dots = static_cast<double>(columns) * rows;
    if (columns < 1 || rows < 1 || dots > double(image.width()) * image.height() || !std::isfinite(d) || !(d > 0) ||
        gray < 0 || gray > 255) {
        logger()->write(LogWarn, "Dot image: no dots for %d x %d, %f mm, %f pixels per mm, gray %d", columns, rows,
                   static_cast<double>(diameterMm), pixelsPerMm, gray);
        return;
    }
    QVector<QRectF> squares;
    squares.reserve(static_cast<int>(dots));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            squares << QRectF(x0 + double(c) * xStep - d / 2, y0 + double(r) * yStep - d / 2, d, d);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(QBrush(QColor(gray, gray, gray), Qt::SolidPattern));
    for (const QRectF& square : squares)
        painter.drawEllipse(square);
    painter.setPen(Qt::white);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(QPolygon({QPoint(10, 60), QPoint(20, 10), QPoint(80, 30)}));
    painter.end();
}

void makeGrayImage(QImage& image, int level)
{
    if (!newPatternImage(image, QImage::Format_Indexed8))
        return;
    QVector<QRgb> grays(256);
    for (int v = 0; v < 256; ++v)
        grays[v] = qRgb(v, v, v);
    image.setColorTable(grays);
    if (level < 0 || level > 255) {
        logger()->write(LogWarn, "Gray image: level %d is no gray, black instead", level);
        level = 0;
    }
    image.fill(static_cast<uint>(level));
}
