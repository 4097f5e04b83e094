// Utils: colours, the font, pixmaps and QR codes.
#include "base/images/ImageUtils.h"

#include "base/files/Utils.h"
#include "base/platform/Platform.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Shell.h"

#include <QBitmap>
#include <QColor>
#include <QImage>
#include <QPixmap>

#include <unistd.h>

namespace {

// Where the encoder writes the picture (board path).
const char kQrCodePath[] = "/tmp/qrcode.png";

} // namespace

QColor Utils::getColor(int role)
{
    switch (role) {
    case 1:
        return QColor(22, 166, 235);
    case 3:
        return QColor(Qt::darkGray);
    case 4:
    case 7:
        return QColor(Qt::black);
    case 5:
        return QColor("#c2172d");
    case 6:
        return QColor("#07b8f7");
    case 8:
        return QColor(0, 0, 0, 0);
    default:
        return QColor(Qt::white);
    }
}

QString Utils::getFontFamily()
{
    // One family carries every language of the user interface.
    return QStringLiteral("KaiTi");
}

QPixmap Utils::loadPixmap(const QString& path, int width, int height)
{
    QPixmap pixmap(QString::fromStdString(fsPath(path)));
    if (pixmap.isNull())
        return pixmap;
    return pixmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QPixmap& Utils::maskedPixmap(const QByteArray& data, int width, int height)
{
    static QPixmap pixmap;
    pixmap = QPixmap();
    if (!pixmap.loadFromData(data))
        return pixmap;
    pixmap.setMask(pixmap.createMaskFromColor(Qt::black, Qt::MaskInColor));
    pixmap = pixmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return pixmap;
}

void Utils::getQRCode(const QString& tool, const QString& text, QPixmap& pixmap)
{
    const std::string picture = rootPath(kQrCodePath);
    // A failed run must not show the code of an earlier text.
    unlink(picture.c_str());
    pixmap = QPixmap();

    // The text is one quoted word after "--": spaces, quotes and semicolons
    // stay text, and a leading "-" is no option.
    const std::string command = tool.toUtf8().toStdString() + " -o " + shellQuote(picture) + " -- " +
                                shellQuote(text.toUtf8().toStdString());
    const int status = platform().shell().run(command);
    logger()->write(LogInfo, "%s return %d", "getQRCode", status);
    if (status != 0)
        return;
    // Through QImage: QPixmap::load could answer from its cache, keyed by
    // name, size and time, for an earlier code of the same size.
    pixmap = QPixmap::fromImage(QImage(QString::fromStdString(picture)));
}
