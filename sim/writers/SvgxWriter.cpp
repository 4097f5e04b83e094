#include "writers/SvgxWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace testwriters {

namespace {

constexpr size_t kHeadSize = 28;

std::string number(double value)
{
    char buffer[64];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

std::string attribute(const char* name, const std::string& value)
{
    return std::string(" ") + name + "=\"" + value + "\"";
}

void putU32(std::string& b, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[offset + i] = static_cast<char>(value >> (8 * i));
}

} // namespace

std::string printParamsElement(const SvgxPrintParams& p, unsigned layerCount)
{
    std::string text = "<printparams" + attribute("layerheight", number(p.layerHeight)) +
                       attribute("volume", number(p.volume)) +
                       attribute("layercount", std::to_string(p.layerCount.value_or(layerCount))) +
                       attribute("materialname", p.materialName) +
                       attribute("lightintensity", number(p.lightIntensity)) +
                       attribute("printmode", std::to_string(p.printMode)) + ">\n";
    if (p.withProjectionTime)
        text += "  <projectiontime" + attribute("attachlayer", std::to_string(p.attachLayers)) +
                attribute("buildinlayer", std::to_string(p.transitionLayers)) +
                attribute("attachtime", number(p.attachTime)) + attribute("basetime", number(p.baseTime)) + "/>\n";
    if (p.withProjectionAdjust)
        text += "  <projectionadjust" + attribute("x", number(p.adjustX)) + attribute("y", number(p.adjustY)) + "/>\n";
    if (p.withPrintRange)
        text += "  <printrange" + attribute("minx", number(p.minX)) + attribute("miny", number(p.minY)) +
                attribute("minz", number(p.minZ)) + attribute("maxx", number(p.maxX)) +
                attribute("maxy", number(p.maxY)) + attribute("maxz", number(p.maxZ)) + "/>\n";
    return text + "</printparams>";
}

std::string layerGroup(unsigned n, const std::vector<std::string>& pathData)
{
    std::string text = "<g id=\"layer-" + std::to_string(n) + "\">\n";
    for (const std::string& d : pathData)
        text += "<path d=\"" + d + "\"/>\n";
    return text + "</g>";
}

std::string squarePathData(double x, double y, double size)
{
    return "M " + number(x) + " " + number(y) + " L " + number(x + size) + " " + number(y) + " L " +
           number(x + size) + " " + number(y + size) + " L " + number(x) + " " + number(y + size) + " Z";
}

std::string polygonPathData(double cx, double cy, double radius, int corners)
{
    std::string d;
    for (int i = 0; i < corners; ++i) {
        const double angle = 2 * M_PI * i / corners;
        // Three decimals, as slicers write them.
        const double x = std::round((cx + radius * std::cos(angle)) * 1000) / 1000;
        const double y = std::round((cy + radius * std::sin(angle)) * 1000) / 1000;
        d += (i == 0 ? "M " : "L ") + number(x) + " " + number(y) + " ";
    }
    return d + "Z";
}

std::string buildSvgx(const SvgxFileSpec& spec)
{
    std::string head(kHeadSize, '\0');
    memcpy(&head[0], spec.tag.data(), std::min<size_t>(spec.tag.size(), 15));
    const uint32_t svgOffset = static_cast<uint32_t>(kHeadSize + spec.preview.size());
    // The preview follows the head directly: base and start are both the head's end.
    putU32(head, 16, kHeadSize);
    putU32(head, 20, kHeadSize);
    putU32(head, 24, svgOffset);

    std::string svg = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\">\n";
    svg += spec.printParams.value_or(printParamsElement(SvgxPrintParams(), static_cast<unsigned>(spec.layers.size())));
    svg += "\n";
    for (const std::string& layer : spec.layers)
        svg += layer + "\n";
    if (spec.withSvgEnd)
        svg += "</svg>\n";
    if (!spec.finalLineBreak)
        svg.pop_back();
    return head + spec.preview + svg;
}

} // namespace testwriters
