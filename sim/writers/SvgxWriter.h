#pragma once

#include <optional>
#include <string>
#include <vector>

// Writes ".svgx" slice files for tests, benchmarks, fuzz seeds and the
// simulator's sample models: a 28-byte head, a preview image, then the SVG
// text with one line per element start and end.
namespace testwriters {

struct SvgxPrintParams
{
    float layerHeight = 0.05f;
    float volume = 1.5f;
    std::optional<unsigned> layerCount; // default: the number of layers written
    std::string materialName = "Standard Grey";
    float lightIntensity = 100;
    unsigned printMode = 0;
    bool withProjectionTime = true;
    unsigned attachLayers = 4;
    unsigned transitionLayers = 8;
    float attachTime = 80;  // s
    float baseTime = 2.5f;  // s
    bool withProjectionAdjust = true;
    float adjustX = 100;
    float adjustY = 100;
    bool withPrintRange = true;
    float minX = -20, minY = -20, minZ = 0, maxX = 20, maxY = 20, maxZ = 10;
};

struct SvgxFileSpec
{
    std::string tag = "DLP-TalvikS"; // at most 15 bytes are kept
    std::string preview = "preview image";
    // The printparams element; default: printParamsElement of the defaults.
    std::optional<std::string> printParams;
    std::vector<std::string> layers; // whole groups, see layerGroup
    bool withSvgEnd = true;     // the closing "</svg>" line
    bool finalLineBreak = true; // after the last line
};

// The element over several lines: start tag, one line per child, end tag.
std::string printParamsElement(const SvgxPrintParams& params, unsigned layerCount);
// Layer n as a group with one path per outline.
std::string layerGroup(unsigned n, const std::vector<std::string>& pathData);
// Path data of an axis-aligned square, lower corner (x, y), in mm.
std::string squarePathData(double x, double y, double size);
// Path data of a regular polygon of `corners` corners around (cx, cy).
std::string polygonPathData(double cx, double cy, double radius, int corners);

std::string buildSvgx(const SvgxFileSpec& spec);

} // namespace testwriters
