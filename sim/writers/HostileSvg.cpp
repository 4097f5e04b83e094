#include "writers/HostileSvg.h"

#include "writers/SvgxWriter.h"

#include <QByteArray>

#include <algorithm>

namespace testwriters {

std::string svgDocument(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "version=\"1.1\">\n" +
           body + "\n</svg>";
}

std::string useFanOutBody(int levels, const std::string& base)
{
    std::string body = "<defs><g id=\"l0\">" + base + "</g>";
    for (int i = 1; i <= levels; ++i) {
        const std::string below = "#l" + std::to_string(i - 1);
        body += "<g id=\"l" + std::to_string(i) + "\"><use xlink:href=\"" + below + "\"/><use xlink:href=\"" + below +
                "\"/></g>";
    }
    return body + "</defs><use xlink:href=\"#l" + std::to_string(levels) + "\"/>";
}

std::string useFanOut(int levels, const std::string& base)
{
    return svgDocument(useFanOutBody(levels, base));
}

std::string useChain(int links)
{
    std::string body = "<defs><path id=\"u0\" d=\"M -8 -4 L 8 -4 L 8 4 Z\" fill=\"white\"/>";
    for (int i = 1; i <= links; ++i)
        body += "<use id=\"u" + std::to_string(i) + "\" xlink:href=\"#u" + std::to_string(i - 1) + "\"/>";
    return svgDocument(body + "</defs><use xlink:href=\"#u" + std::to_string(links) + "\"/>");
}

std::string imageElement(const std::string& href, int size)
{
    return "<image x=\"-8\" y=\"-4\" width=\"" + std::to_string(size) + "\" height=\"" + std::to_string(size) +
           "\" xlink:href=\"" + href + "\"/>";
}

std::string bmpFile(uint32_t width, uint32_t height, uint8_t gray, bool withPixels)
{
    const uint32_t row = (width * 3 + 3) / 4 * 4;
    std::string file(54, '\0');
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at + i] = char((v >> (8 * i)) & 0xff);
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, 54 + row * height, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, width, 4);
    put(22, height, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, row * height, 4);
    if (withPixels)
        for (uint32_t y = 0; y < height; ++y) {
            file += std::string(width * 3, char(gray));
            file += std::string(row - width * 3, '\0');
        }
    return file;
}

std::string base64(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

namespace {

// `count` copies of `element`, in lines of at most 1 MiB.
std::string elementLines(const std::string& element, size_t count)
{
    const size_t perLine = std::max<size_t>(1, (1u << 20) / element.size());
    std::string text;
    text.reserve(count * element.size() + count / perLine + 1);
    for (size_t i = 0; i < count; ++i) {
        text += element;
        if ((i + 1) % perLine == 0 && i + 1 < count)
            text += '\n';
    }
    return text;
}

std::string layerStart(unsigned n)
{
    return "<g id=\"layer-" + std::to_string(n) + "\">\n";
}

} // namespace

std::string emptyGroupsLayer(unsigned n, size_t bodyBytes)
{
    return layerStart(n) + elementLines("<g/>", bodyBytes / 4) + "\n</g>";
}

std::string smallPathsLayer(unsigned n, size_t count)
{
    std::string text = layerStart(n);
    text.reserve(count * 32);
    for (size_t i = 0; i < count; ++i)
        text += "<path d=\"M " + std::to_string(i % 97) + " " + std::to_string(i % 89) + " h0.1v0.1z\"/>\n";
    return text + "</g>";
}

std::string gradientCirclesLayer(unsigned n, size_t count, double radiusMm)
{
    return layerStart(n) +
           "<defs><radialGradient id=\"r\"><stop offset=\"0\" stop-color=\"white\"/>"
           "<stop offset=\"1\" stop-color=\"black\"/></radialGradient></defs>\n"
           "<g fill=\"url(#r)\">\n" +
           // The inner group ends on the circles' last line: a line that begins
           // with "</g>" ends the layer for the reader.
           elementLines("<circle r=\"" + std::to_string(static_cast<int>(radiusMm)) + "\"/>", count) + "</g>\n</g>";
}

std::string printParamsWithEmptyChildren(unsigned layerCount, size_t count)
{
    std::string element = printParamsElement(SvgxPrintParams(), layerCount);
    const std::string end = "</printparams>";
    element.insert(element.size() - end.size(), elementLines("<x/>", count) + "\n");
    return element;
}

} // namespace testwriters
