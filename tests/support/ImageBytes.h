#pragma once

#include <QByteArray>
#include <QImage>

namespace testsupport {

// An image as a PNG file (or a slice file's preview) holds it.
QByteArray pngOf(const QImage& image);

} // namespace testsupport
