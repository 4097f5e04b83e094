// Contour offset of layer documents: geometry, cleaning and bad input.
#include "engine/slicefile/SvgOffset.h"

#include "base/threads/PThread.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <QDomDocument>
#include <QDomElement>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

QByteArray layerDocument(const std::vector<std::string>& pathData)
{
    std::string svg = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\">\n" +
                      testwriters::layerGroup(0, pathData) + "\n</svg>";
    return QByteArray::fromStdString(svg);
}

std::vector<QString> pathDataOf(const QByteArray& svg)
{
    QDomDocument document;
    EXPECT_TRUE(document.setContent(svg));
    std::vector<QString> data;
    const QDomNodeList paths = document.elementsByTagName("path");
    for (int i = 0; i < paths.size(); ++i)
        data.push_back(paths.at(i).toElement().attribute("d", "(none)"));
    return data;
}

std::set<std::pair<long long, long long>> corners(const Path& polygon)
{
    std::set<std::pair<long long, long long>> set;
    for (const IntPoint& p : polygon)
        set.insert({p.X, p.Y});
    return set;
}

TEST(SvgOffsetTest, SquareGrowsByTheOffset)
{
    QByteArray svg = layerDocument({"M 0 0 L 10 0 L 10 10 L 0 10 Z"});
    ASSERT_TRUE(offsetSvg(svg, 0.1f));
    const std::vector<QString> data = pathDataOf(svg);
    ASSERT_EQ(1u, data.size());
    Paths polygons;
    ASSERT_TRUE(parsePathData(data[0].toLatin1().constData(), polygons));
    ASSERT_EQ(1u, polygons.size());
    const std::set<std::pair<long long, long long>> expected{{-100, -100}, {10100, -100}, {10100, 10100}, {-100, 10100}};
    EXPECT_EQ(expected, corners(polygons[0]));
    EXPECT_TRUE(data[0].startsWith("M ")) << data[0].toStdString();
    EXPECT_TRUE(data[0].contains("10.100 ")) << data[0].toStdString();
    EXPECT_TRUE(data[0].endsWith("Z ")) << data[0].toStdString();
}

TEST(SvgOffsetTest, HoleShrinksWhileTheOutlineGrows)
{
    // An outer square with a square hole, as one path (opposite windings).
    QByteArray svg = layerDocument({"M 0 0 L 20 0 L 20 20 L 0 20 Z M 5 5 L 5 15 L 15 15 L 15 5 Z"});
    ASSERT_TRUE(offsetSvg(svg, 0.5f));
    const std::vector<QString> data = pathDataOf(svg);
    ASSERT_EQ(1u, data.size());
    Paths polygons;
    ASSERT_TRUE(parsePathData(data[0].toLatin1().constData(), polygons));
    ASSERT_EQ(2u, polygons.size());
    std::sort(polygons.begin(), polygons.end(),
              [](const Path& a, const Path& b) { return std::abs(ClipperLib::Area(a)) > std::abs(ClipperLib::Area(b)); });
    EXPECT_EQ((std::set<std::pair<long long, long long>>{{-500, -500}, {20500, -500}, {20500, 20500}, {-500, 20500}}),
              corners(polygons[0]));
    EXPECT_EQ((std::set<std::pair<long long, long long>>{{5500, 5500}, {14500, 5500}, {14500, 14500}, {5500, 14500}}),
              corners(polygons[1]));

    // Shrinking closes the hole's rim until the wall vanishes.
    QByteArray thin = layerDocument({"M 0 0 L 20 0 L 20 20 L 0 20 Z M 5 5 L 5 15 L 15 15 L 15 5 Z"});
    ASSERT_TRUE(offsetSvg(thin, -3.0f));
    EXPECT_TRUE(pathDataOf(thin).empty());
}

TEST(SvgOffsetTest, VanishingPathsAreRemovedOthersKept)
{
    QByteArray svg = layerDocument({"M 0 0 L 0.1 0 L 0.1 0.1 L 0 0.1 Z", "M 0 0 L 10 0 L 10 10 L 0 10 Z"});
    svg.replace("</g>", "<path id=\"no-data\"/><path d=\"L Z\"/>\n</g>");
    ASSERT_TRUE(offsetSvg(svg, -0.1f));
    const std::vector<QString> data = pathDataOf(svg);
    ASSERT_EQ(3u, data.size());
    EXPECT_TRUE(data[0].startsWith("M ")); // the large square, shrunk
    EXPECT_EQ("(none)", data[1]);           // no "d": untouched
    EXPECT_EQ("L Z", data[2]);              // no numbers: untouched
}

TEST(SvgOffsetTest, PathDataReading)
{
    Paths polygons;
    ASSERT_TRUE(parsePathData("M 10,20 30 40", polygons));
    ASSERT_EQ(1u, polygons.size());
    // "10,20": x 10, y 0; then 20 starts the next point.
    EXPECT_EQ((Path{{10000, 0}, {20000, 30000}, {40000, 0}}), polygons[0]);

    polygons.clear();
    ASSERT_TRUE(parsePathData("M 1.2345 -0.5 L\t2 3 M 4 5", polygons));
    ASSERT_EQ(2u, polygons.size());
    EXPECT_EQ((Path{{1234, -500}, {2000, 3000}}), polygons[0]);
    EXPECT_EQ("M 1.234 -0.500 L 2.000 3.000 Z M 4.000 5.000 L Z ", writePathData(polygons).toStdString());

    float value;
    EXPECT_STREQ("x", readPathNumber("-12.5 \t x", value));
    EXPECT_FLOAT_EQ(-12.5f, value);

    for (const char* bad : {"M 1 nan", "M 2 inf", "M 1 1e39", "M 100001 0", "M 0 -1e20", "M 1e308 1"}) {
        Paths untouched{{{1, 1}}};
        EXPECT_FALSE(parsePathData(bad, untouched)) << bad;
        EXPECT_EQ(1u, untouched.size()) << bad;
    }
}

TEST(SvgOffsetTest, BadCoordinatesAndOffsetsLeaveTheDocument)
{
    QByteArray svg = layerDocument({"M 0 0 L 1e30 0 L 10 10 Z", "M 0 0 L 10 0 L 10 10 L 0 10 Z"});
    ASSERT_TRUE(offsetSvg(svg, 0.1f));
    const std::vector<QString> data = pathDataOf(svg);
    ASSERT_EQ(2u, data.size());
    EXPECT_EQ("M 0 0 L 1e30 0 L 10 10 Z", data[0]);
    EXPECT_NE("M 0 0 L 10 0 L 10 10 L 0 10 Z", data[1]);

    for (float offset : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 5000.0f}) {
        QByteArray same = layerDocument({"M 0 0 L 10 0 L 10 10 Z"});
        const QByteArray before = same;
        EXPECT_FALSE(offsetSvg(same, offset));
        EXPECT_EQ(before, same);
    }
    QByteArray broken("<svg><path d=\"M 0 0 L 1 0 L 1 1 Z\"></svg>");
    const QByteArray before = broken;
    EXPECT_FALSE(offsetSvg(broken, 0.1f));
    EXPECT_EQ(before, broken);

    // Coordinates at the limit still offset without overflow.
    QByteArray large = layerDocument({"M -100000 -100000 L 100000 -100000 L 100000 100000 L -100000 100000 Z"});
    EXPECT_TRUE(offsetSvg(large, 1000.0f));
}

TEST(SvgOffsetTest, CleaningRemovesNearAndInLinePoints)
{
    Path nearPoint{{0, 0}, {10000, 0}, {10003, 4}, {10000, 10000}, {0, 10000}};
    cleanPolygon(nearPoint, 20);
    EXPECT_EQ((Path{{0, 0}, {10000, 0}, {10000, 10000}, {0, 10000}}), nearPoint);

    Path inLine{{0, 0}, {5000, 0}, {10000, 0}, {10000, 10000}};
    cleanPolygon(inLine, 20);
    EXPECT_EQ((Path{{0, 0}, {10000, 0}, {10000, 10000}}), inLine);

    Path tiny{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    Paths set{tiny, {{0, 0}, {10000, 0}, {0, 10000}}};
    cleanPolygons(set, 20);
    ASSERT_EQ(1u, set.size());
    EXPECT_EQ(3u, set[0].size());
}

TEST(SvgOffsetTest, DeepNestingIsRefusedOnTheImageThreadStack)
{
    struct Offsetter : PThread
    {
        QByteArray svg;
        bool result = true;
        void* threadMain() override
        {
            result = offsetSvg(svg, 0.1f);
            return nullptr;
        }
    } worker;
    QByteArray deep("<svg>");
    for (int i = 0; i < 200000; ++i)
        deep += "<g>";
    deep += "<path d=\"M 0 0 L 1 0 L 1 1 Z\"/>";
    for (int i = 0; i < 200000; ++i)
        deep += "</g>";
    deep += "</svg>";
    worker.svg = deep;
    ASSERT_EQ(0, worker.start(false, 1 << 20));
    worker.join();
    EXPECT_FALSE(worker.result);
    EXPECT_EQ(deep, worker.svg);

    QByteArray entities("<!DOCTYPE svg [<!ENTITY a \"<g><g><g></g></g></g>\">]><svg>&a;</svg>");
    EXPECT_FALSE(offsetSvg(entities, 0.1f));
}

} // namespace
