#include "engine/projection/LayerPainter.h"

#include "base/threads/Stopwatch.h"
#include "engine/projection/SvgGray.h"
#include "engine/slicefile/SvgGuard.h"
#include "engine/slicefile/SvgOffset.h"

#include <QPainter>
#include <QSvgRenderer>
#include <QTransform>

#include <new>

using layerrender::Geometry;
using layerrender::Outcome;
using layerrender::Plane;

namespace {

// Millimetres around the panel centre; Y points down unless mirrored.
QTransform layerTransform(const Geometry& g)
{
    QTransform transform;
    transform.translate(g.width / 2, g.height / 2);
    transform.scale(g.scaleX, g.scaleY);
    transform.rotate(g.rotationDegrees);
    return transform;
}

// Layers in grays (as slicers write them) are drawn straight on a gray
// plane: a quarter of the memory of a colour image to clear and to send.
void paintGray(QSvgRenderer& renderer, const Geometry& g, PaintedLayer& layer)
{
    layer.plane = Plane::Gray;
    layer.gray.assign(size_t(g.width) * size_t(g.height), 0);
    QImage plane(layer.gray.data(), g.width, g.height, g.width, QImage::Format_Grayscale8);
    QPainter painter(&plane);
    if (!painter.isActive())
        throw std::bad_alloc();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setTransform(layerTransform(g));
    renderer.render(&painter, renderer.viewBoxF());
    painter.end();
    layer.content = plane.rect();
}

// Only what a layer paints needs sending: layers rarely cover the whole
// panel. Without a view box of its own a document's view box is the bounds
// of its content.
void paintColour(QSvgRenderer& renderer, const Geometry& g, const QByteArray& document, PaintedLayer& layer)
{
    layer.plane = Plane::Colour;
    layer.colour = QImage(g.width, g.height, QImage::Format_RGB32);
    if (layer.colour.isNull())
        throw std::bad_alloc();
    layer.colour.fill(Qt::black);
    const QTransform transform = layerTransform(g);
    QPainter painter(&layer.colour);
    if (!painter.isActive())
        throw std::bad_alloc();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QRect content = layer.colour.rect();
    if (!document.contains("viewBox")) {
        content &= transform.mapRect(renderer.viewBoxF()).toAlignedRect().adjusted(-2, -2, 2, 2);
        painter.setClipRect(content);
    }
    painter.setTransform(transform);
    renderer.render(&painter, renderer.viewBoxF());
    painter.end();
    layer.content = content;
}

} // namespace

PaintedLayer paintLayer(QByteArray document, const Geometry& geometry)
{
    PaintedLayer layer;
    layer.reason = svgRenderRefusal(document);
    if (!layer.reason.empty()) {
        layer.outcome = Outcome::Refused;
        return layer;
    }
    if (geometry.offsetUm != 0) {
        Stopwatch watch;
        offsetSvg(document, geometry.offsetUm / 1000.0f);
        layer.offsetMs = static_cast<int>(watch.elapsedMs());
    }
    QSvgRenderer renderer;
    if (!renderer.load(document)) {
        layer.outcome = Outcome::NotSvg;
        return layer;
    }
    if (svgUsesOnlyGrays(document))
        paintGray(renderer, geometry, layer);
    else
        paintColour(renderer, geometry, document, layer);
    layer.outcome = Outcome::Drawn;
    return layer;
}
