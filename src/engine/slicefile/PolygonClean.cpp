#include "engine/slicefile/SvgOffset.h"

#include <algorithm>
#include <cmath>
#include <vector>

using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

int64_t distance2(const IntPoint& a, const IntPoint& b)
{
    const int64_t dx = a.X - b.X;
    const int64_t dy = a.Y - b.Y;
    return dx * dx + dy * dy;
}

// Twice the triangle's area, unsigned.
double area2(const IntPoint& a, const IntPoint& b, const IntPoint& c)
{
    const int64_t cross = (b.X - a.X) * (c.Y - a.Y) - (b.Y - a.Y) * (c.X - a.X);
    return std::fabs(static_cast<double>(cross));
}

// The angle at b between a and c is (almost) a straight line.
bool inLine(const IntPoint& a, const IntPoint& b, const IntPoint& c)
{
    const double ax = static_cast<double>(a.X - b.X), ay = static_cast<double>(a.Y - b.Y);
    const double cx = static_cast<double>(c.X - b.X), cy = static_cast<double>(c.Y - b.Y);
    const double cosine = (ax * cx + ay * cy) / std::sqrt((ax * ax + ay * ay) * (cx * cx + cy * cy));
    return cosine < -0.999999;
}

} // namespace

void cleanPolygon(Path& polygon, int64_t distUm)
{
    const size_t n = polygon.size();
    if (n < 3)
        return;
    const double d2 = static_cast<double>(distUm) * static_cast<double>(distUm);
    const double nearLimit = std::min(d2 / 2, 100.0);
    const Path& p = polygon;
    std::vector<char> kept(n, 1);
    bool removedAny = false;

    size_t prev = n - 1, cur = 0, next = 1;
    // Moves next to the following kept point; false when it comes round to prev.
    auto advanceNext = [&] {
        do
            next = (next + 1) % n;
        while (!kept[next] && next != prev);
        return next != prev;
    };
    // Drops cur and moves on; false when the walk is over.
    auto removeCur = [&] {
        kept[cur] = 0;
        removedAny = true;
        return ++cur < n && advanceNext();
    };

    for (;;) {
        // Points that together add almost no area go.
        double area = area2(p[prev], p[cur], p[next]);
        if (area < d2) {
            bool walking = true;
            while (walking && area < d2) {
                walking = removeCur();
                if (walking)
                    area += area2(p[prev], p[cur], p[next]);
            }
            if (!walking)
                break;
        }
        // Points too close to a neighbour, or in line with both, go.
        bool walking = true;
        while (walking && (distance2(p[prev], p[cur]) < nearLimit || distance2(p[prev], p[next]) < d2 ||
                           inLine(p[prev], p[cur], p[next])))
            walking = removeCur();
        if (!walking || !advanceNext())
            break;
        prev = cur;
        if (++cur >= n)
            break;
    }

    if (!removedAny)
        return;
    Path remaining;
    for (size_t i = 0; i < n; ++i)
        if (kept[i])
            remaining.push_back(p[i]);
    if (remaining.size() == 2 && distance2(remaining[0], remaining[1]) < d2)
        remaining.clear();
    polygon.swap(remaining);
}

void cleanPolygons(Paths& polygons, int64_t distUm)
{
    for (Path& polygon : polygons)
        cleanPolygon(polygon, distUm);
    polygons.erase(std::remove_if(polygons.begin(), polygons.end(), [](const Path& p) { return p.size() < 3; }),
                   polygons.end());
}
