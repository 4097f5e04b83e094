#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>

// The check an SVG layer document from outside passes before it is
// rendered. References are what make a small document expensive: a `<use>`
// draws another element again, so a few kilobytes of `<use>` elements that
// refer to each other make billions of draws, and an `<image>` naming a path
// reads any file of the machine (a FIFO for ever). Refused are:
// - references that, expanded, make more than kMaxExpandedSize characters of
//   markup to draw, that form a cycle, or that chain deeper than the renderer's
//   stack allows (kMaxXmlDepth, with the nesting);
// - references outside the document: an `<image>` embeds its picture as
//   base64 data, other references name an id ("#id");
// - embedded pictures that are not PNG, JPEG, BMP or GIF, whose size cannot be
//   read, or that hold more than kMaxEmbeddedPixels together;
// - nesting deeper than kMaxXmlDepth, entity declarations, and text that is
//   not well-formed when references are present.
// Returns an empty text when the document may be rendered, else the reason.
std::string svgRenderRefusal(const QByteArray& document);

// Twice the largest layer the ".svgx" reader hands out.
constexpr uint64_t kMaxExpandedSize = 64u << 20;
constexpr uint64_t kMaxEmbeddedPixels = 32u << 20;
