// Hostile SVG layers: references that fan out or leave the document are
// refused before anything is rendered; embedded pictures within bounds show.
#include "engine/projection/ProjectionFixture.h"

#include "engine/slicefile/SvgGuard.h"
#include "engine/slicefile/SvgParser.h"
#include "writers/HostileSvg.h"
#include "writers/SvgxWriter.h"

#include <QBuffer>

#include <string>

using namespace testsupport;
using namespace testwriters;

namespace {

constexpr int kW = 16;
constexpr int kH = 8;

std::string base64Of(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toBase64().toStdString();
}

} // namespace

TEST_F(ProjectionTest, SvgReferencesThatFanOutOrLeaveTheDocumentAreRefused)
{
    normalMachine(kW, kH, kW, kH);
    // A picture anywhere on the machine, which a layer must not project.
    QImage white(kW, kH, QImage::Format_RGB32);
    white.fill(Qt::white);
    const std::string picture = rootPath("/data/etc/picture.png");
    makeDirs(rootPath("/data/etc"));
    ASSERT_TRUE(white.save(QString::fromStdString(picture), "PNG"));
    const std::string bigPath = "<path fill=\"white\" d=\"M -8 -4" + std::string(2000, ' ') + " L 8 -4 L 8 4 Z\"/>";

    const struct
    {
        const char* name;
        std::string svg;
        const char* reason;
    } refused[] = {
        {"fan-out past the bound", useFanOut(16, bigPath), "references expand"},
        {"fan-out of 2^40", useFanOut(40, "<path d=\"M 0 0 L 1 1 L 1 0 Z\" fill=\"white\"/>"), "references expand"},
        {"cycle", svgDocument("<g id=\"a\"><use xlink:href=\"#b\"/></g><g id=\"b\"><use xlink:href=\"#a\"/></g>"),
         "cycle"},
        {"element drawing itself", svgDocument("<g id=\"a\"><g><use xlink:href=\"#a\"/></g></g>"), "cycle"},
        {"image by path", svgDocument(imageElement(picture)), "image refers to a file"},
        {"image by file URL", svgDocument(imageElement("file://" + picture)), "image refers to a file"},
        {"image by local id", svgDocument(imageElement("#a")), "image refers to a file"},
        {"use of another document", svgDocument("<use xlink:href=\"other.svg#a\"/>"), "outside the document"},
        {"huge embedded picture", svgDocument(imageElement("data:image/bmp;base64," + base64(bmpFile(8000, 8000, 0, false)))),
         "larger than"},
        {"embedded SVG", svgDocument(imageElement("data:image/svg+xml;base64," +
                                               QByteArray::fromStdString(useFanOut(40, "<path d=\"M 0 0 L 1 1\"/>"))
                                                   .toBase64()
                                                   .toStdString())),
         "format"},
        {"entities", "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY a \"aaaa\">]><svg xlink:href=\"#x\">&a;</svg>",
         "entity"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(-1, view->showSvgLayer(c.svg)) << c.name;
        EXPECT_NE(std::string::npos, logText().find(c.reason)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(kW * kH * 3, 0), fbModel->visibleBytes()) << c.name;
    }
    EXPECT_NE(std::string::npos, logText().find("Svg layer refused: image refers to a file: " + picture));

    // A chain of references as deep as the renderer's stack allows, no deeper.
    EXPECT_EQ(-1, view->showSvgLayer(useChain(400)));
    EXPECT_NE(std::string::npos, logText().find("references chain deeper"));
    EXPECT_EQ(0, view->showSvgLayer(useChain(100)));
    EXPECT_EQ(255, pixel(kW - 1, 0)[0]);
}

// The 8 KB slice file whose layer would draw 2^40 outlines: read, refused, quickly.
TEST_F(ProjectionTest, SliceFileLayerThatFansOutIsRefused)
{
    normalMachine(kW, kH, kW, kH);
    SvgxFileSpec spec;
    spec.layers.push_back("<g id=\"layer-0\">\n" + useFanOutBody(40, "<path d=\"" + squarePathData(-8, -4, 16) +
                                                                      "\" fill=\"white\"/>") +
                          "\n</g>");
    spec.layers.push_back("<g id=\"layer-1\">\n<path d=\"" + squarePathData(-8, -4, 16) + "\" fill=\"white\"/>\n</g>");
    makeDirs(rootPath("/media/sda1"));
    writeFile(rootPath("/media/sda1/fan.svgx"), buildSvgx(spec));
    SvgParser parser("/media/sda1/fan.svgx", 4048);
    ASSERT_EQ(0, parser.open());
    EXPECT_EQ(-1, view->showSvgLayer(parser.nextLayer()));
    EXPECT_NE(std::string::npos, logText().find("Svg layer refused: references expand"));
    EXPECT_EQ(0, view->showSvgLayer(parser.nextLayer()));
    EXPECT_EQ((Rgb{255, 255, 255}), pixel(0, 0));
}

TEST_F(ProjectionTest, SvgReferencesWithinBoundsShow)
{
    normalMachine(kW, kH, kW, kH);
    config().ImageChannel = 0;
    // An embedded picture: a white 4 x 4 square in the top left corner.
    QImage white(4, 4, QImage::Format_RGB32);
    white.fill(Qt::white);
    for (const char* format : {"png", "bmp"}) {
        fb->clear();
        ASSERT_EQ(0, view->showSvgLayer(svgDocument(imageElement(std::string("data:image/") + format + ";base64," +
                                                              base64Of(white, format)))))
            << format;
        EXPECT_EQ((Rgb{255, 255, 255}), pixel(0, 0)) << format;
        EXPECT_EQ((Rgb{255, 255, 255}), pixel(3, 3)) << format;
        EXPECT_EQ((Rgb{0, 0, 0}), pixel(4, 4)) << format;
    }
    // A few uses of one outline, shifted: each copy is drawn.
    ASSERT_EQ(0, view->showSvgLayer(svgDocument("<defs><path id=\"p\" d=\"M -8 -4 L -7 -4 L -7 -3 L -8 -3 Z\" "
                                             "fill=\"white\"/></defs><use xlink:href=\"#p\"/>"
                                             "<use xlink:href=\"#p\" transform=\"translate(15 7)\"/>")));
    EXPECT_EQ((Rgb{255, 255, 255}), pixel(0, 0));
    EXPECT_EQ((Rgb{255, 255, 255}), pixel(kW - 1, kH - 1));
    EXPECT_EQ((Rgb{0, 0, 0}), pixel(1, 1));
}

TEST(SvgGuardTest, ExpansionIsCountedNotRendered)
{
    const std::string path = "<path d=\"M 0 0 L 1 1 L 1 0 Z\"/>";
    // Ten levels of doubling stay under the bound; many more do not.
    EXPECT_EQ("", svgRenderRefusal(QByteArray::fromStdString(useFanOut(10, path))));
    EXPECT_NE("", svgRenderRefusal(QByteArray::fromStdString(useFanOut(24, path))));
    // An id that two elements carry counts for both; a missing id draws nothing.
    EXPECT_EQ("", svgRenderRefusal(QByteArray::fromStdString(
                      svgDocument("<g id=\"a\"/><g id=\"a\"/><use xlink:href=\"#a\"/><use xlink:href=\"#none\"/>"))));
    EXPECT_EQ("", svgRenderRefusal(QByteArray::fromStdString(svgDocument(path))));
    EXPECT_NE("", svgRenderRefusal(QByteArray::fromStdString(svgDocument("<use xlink:href=\"#a\"/><g"))));
}
