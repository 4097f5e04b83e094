#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// SVG layer documents that try the projection's limits: references that fan
// out or chain, pictures from outside or embedded, and layers within the
// reader's caps that ask too much memory or time of the renderer.
namespace testwriters {

// A whole document around `body`, with the xlink prefix declared.
std::string svgDocument(const std::string& body);
// Levels of groups, each drawing the one below twice: 2^levels copies of
// `base`. The body alone (one line) or as a whole document.
std::string useFanOutBody(int levels, const std::string& base);
std::string useFanOut(int levels, const std::string& base);
// `links` uses in a row, each drawing the one before, over a white triangle.
std::string useChain(int links);
// An `<image>` of size x size mm in the top left corner of a 16 x 8 mm panel.
std::string imageElement(const std::string& href, int size = 4);
// A 24-bit BMP file of width x height pixels of one gray; without pixels only
// its head, which still claims the size.
std::string bmpFile(uint32_t width, uint32_t height, uint8_t gray, bool withPixels = true);
std::string base64(const std::string& bytes);

// Layer n as the reader takes it, its body `bodyBytes` of empty groups
// "<g/>" in lines of 1 MiB (the reader takes layers of up to 32 MiB).
std::string emptyGroupsLayer(unsigned n, size_t bodyBytes);
// Layer n of `count` tiny square paths, one per line (about 32 bytes each).
std::string smallPathsLayer(unsigned n, size_t count);
// Layer n of `count` circles of `radiusMm` around the centre, each filled
// with a radial gradient (about 17 bytes a circle).
std::string gradientCirclesLayer(unsigned n, size_t count, double radiusMm);
// A printparams element with the usual children, then `count` empty ones
// ("<x/>", in lines of 1 MiB).
std::string printParamsWithEmptyChildren(unsigned layerCount, size_t count);

} // namespace testwriters
