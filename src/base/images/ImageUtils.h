#pragma once

#include <QString>

class QByteArray;
class QColor;
class QPixmap;

// Helpers of the pages that draw: colours, fonts, pixmaps, QR codes and the
// models' thumbnails. The only helpers that need Qt Gui.
namespace Utils {

// --- Colours and fonts ---
// The controls' colour for a role number: 1 blue, 3 dark grey, 4 and 7
// black, 5 red, 6 light blue, 8 transparent; every other role white.
QColor getColor(int role);
QString getFontFamily();

// --- Pixmaps ---
// The image at a board path, scaled to exactly width x height (smooth).
QPixmap loadPixmap(const QString& path, int width, int height);
// The image in `data` with its black pixels made transparent, scaled to
// width x height; null when the data is no image. GUI thread only: the
// result is one pixmap shared by all calls, overwritten by the next one.
QPixmap& maskedPixmap(const QByteArray& data, int width, int height);
// Renders `text` as a QR code with the encoder command `tool` (program
// and options) into "/tmp/qrcode.png" and loads it; `pixmap` is null when
// the encoder failed. The text reaches the encoder as one argument.
void getQRCode(const QString& tool, const QString& text, QPixmap& pixmap);

// --- Model thumbnails and paths ---
// Whether a path is the USB disk's folder or lies below it.
bool isUsbPath(const QString& path);
// The thumbnail folder of a model file (USB disk or internal store);
// empty when the model is not a regular file or its folder is not the
// printer's own (PathManager).
QString thumbDir(const QString& modelPath);
// The model's thumbnail (".png") / small thumbnail ("_thumb.png"), named by
// a digest of the model's path so that every model has files of its own;
// extracted from the model when missing or made from the model as it was
// before (each thumbnail records the model's size and time and a digest of
// the ends of its preview). Empty when the model is no ".svgx" file or holds
// no usable preview.
QString getThumb(const QString& modelPath);
QString getThumbnail(const QString& modelPath);
// Removes a model and its thumbnails: whether the model was removed.
bool removeModel(const QString& modelPath);
// Writes both thumbnails of a ".svgx" model from its preview image: 0 or -1.
int extractThumb(const QString& modelPath);
// Saves an image with its pure black pixels transparent: 0 or -1.
int saveThumb(const QString& target, const QByteArray& data);

} // namespace Utils
