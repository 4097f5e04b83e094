#pragma once

#include "engine/projection/LayerRenderProtocol.h"

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <cstdint>
#include <string>
#include <vector>

// What the renderer program does with one layer document: the check before
// rendering, the outline offset, then the drawing, on a gray plane when the
// document paints in grays only, else in colour. Run in the renderer's own
// process: a document that exhausts memory or time there cannot harm the
// printer.
struct PaintedLayer
{
    layerrender::Outcome outcome = layerrender::Outcome::NotSvg;
    layerrender::Plane plane = layerrender::Plane::Gray;
    // Gray: the whole panel. Colour: the part that may not be black.
    QRect content;
    std::vector<uint8_t> gray; // width x height, for a gray layer
    QImage colour;             // the panel in 32-bit colour, for a colour layer
    std::string reason;        // why it was refused
    int offsetMs = -1;         // time of the outline offset; -1 without one
};

// Throws std::bad_alloc when memory runs out.
PaintedLayer paintLayer(QByteArray document, const layerrender::Geometry& geometry);
