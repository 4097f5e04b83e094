#include "engine/slicefile/SvgOffset.h"

#include "engine/slicefile/XmlGuard.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>

#include <cmath>
#include <exception>
#include <vector>

namespace {

constexpr int64_t kCleanDistanceUm = 20;

} // namespace

bool offsetPolygons(ClipperLib::Paths& polygons, int deltaUm)
{
    try {
        ClipperLib::ClipperOffset offset(2.0, 0.25);
        offset.AddPaths(polygons, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
        ClipperLib::Paths result;
        offset.Execute(result, deltaUm);
        polygons.swap(result);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool offsetSvg(QByteArray& svg, float offsetMm)
{
    if (!std::isfinite(offsetMm) || std::fabs(offsetMm) > kMaxOffsetMm)
        return false;
    if (!xmlFitsRecursiveParser(svg.constData(), static_cast<size_t>(svg.size())))
        return false;
    try {
        QDomDocument document;
        if (!document.setContent(svg))
            return false;
        const int deltaUm = static_cast<int>(offsetMm * 1000.0f);

        const QDomNodeList found = document.elementsByTagName("path");
        std::vector<QDomElement> paths;
        paths.reserve(static_cast<size_t>(found.size()));
        for (int i = 0; i < found.size(); ++i)
            paths.push_back(found.at(i).toElement());

        for (QDomElement& path : paths) {
            const QByteArray data = path.attribute("d").toLatin1();
            ClipperLib::Paths polygons;
            if (!parsePathData(data.constData(), polygons) || polygons.empty())
                continue;
            if (!offsetPolygons(polygons, deltaUm))
                continue;
            cleanPolygons(polygons, kCleanDistanceUm);
            if (polygons.empty())
                path.parentNode().removeChild(path);
            else
                path.setAttribute("d", writePathData(polygons));
        }
        svg = document.toByteArray(1);
        return true;
    } catch (const std::exception&) {
        return false; // out of memory: the layer is shown as it came
    }
}
