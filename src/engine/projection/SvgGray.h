#pragma once

#include <QByteArray>

// Whether an SVG document paints in grays only: every fill, stroke and
// colour it names is a gray (or none), and it takes no colours from images,
// gradients or patterns. Such a document can be rendered on a gray plane
// with the same result as in colour. Anything not understood counts as colour.
bool svgUsesOnlyGrays(const QByteArray& svg);
