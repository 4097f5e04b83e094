// Writes the seeds of the thumbnail target: ".svgx" files whose previews are
// real pictures of a few kinds and sizes.
#include "writers/SvgxWriter.h"

#include <QBuffer>
#include <QImage>

#include <cstdio>
#include <string>

namespace {

std::string encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

bool writeSeed(const std::string& path, const std::string& preview)
{
    testwriters::SvgxFileSpec spec;
    spec.preview = preview;
    spec.layers = {testwriters::layerGroup(0, {testwriters::squarePathData(0, 0, 5)})};
    const std::string file = testwriters::buildSvgx(spec);
    FILE* out = fopen(path.c_str(), "wb");
    if (!out)
        return false;
    const bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string dir = argv[1];
    QImage colour(12, 8, QImage::Format_ARGB32);
    colour.fill(qRgba(200, 30, 30, 255));
    colour.setPixel(0, 0, qRgba(0, 0, 0, 255));
    colour.setPixel(1, 0, qRgba(0, 0, 0, 128));
    QImage gray(5, 5, QImage::Format_Grayscale8);
    gray.fill(0);
    const bool ok = writeSeed(dir + "/colour.svgx", encoded(colour, "PNG")) &&
                    writeSeed(dir + "/gray.svgx", encoded(gray, "PNG")) &&
                    writeSeed(dir + "/bitmap.svgx", encoded(colour, "BMP"));
    return ok ? 0 : 1;
}
