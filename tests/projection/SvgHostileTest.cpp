// Hostile SVG layers: references that fan out or leave the document are
// refused before anything is rendered; embedded pictures within bounds show.
#include "ProjectionFixture.h"

#include "engine/SvgGuard.h"

#include <QBuffer>

#include <string>

using namespace testsupport;

namespace {

constexpr int kW = 16;
constexpr int kH = 8;

std::string document(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "version=\"1.1\">\n" +
           body + "\n</svg>";
}

// Levels of groups, each drawing the one below twice: 2^levels copies of `base`.
std::string fanOut(int levels, const std::string& base)
{
    std::string body = "<defs><g id=\"l0\">" + base + "</g>";
    for (int i = 1; i <= levels; ++i) {
        const std::string below = "#l" + std::to_string(i - 1);
        body += "<g id=\"l" + std::to_string(i) + "\"><use xlink:href=\"" + below + "\"/><use xlink:href=\"" + below +
                "\"/></g>";
    }
    return document(body + "</defs><use xlink:href=\"#l" + std::to_string(levels) + "\"/>");
}

std::string base64Of(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toBase64().toStdString();
}

// The head of a 24-bit BMP that claims width x height pixels (no pixels follow).
std::string bmpHeadOnly(uint32_t width, uint32_t height)
{
    std::string head(54, '\0');
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            head[at + i] = char((v >> (8 * i)) & 0xff);
    };
    head[0] = 'B';
    head[1] = 'M';
    put(2, 54 + width * height * 3, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, width, 4);
    put(22, height, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    return QByteArray::fromStdString(head).toBase64().toStdString();
}

std::string imageElement(const std::string& href, int size = 4)
{
    return "<image x=\"-8\" y=\"-4\" width=\"" + std::to_string(size) + "\" height=\"" + std::to_string(size) +
           "\" xlink:href=\"" + href + "\"/>";
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
        {"fan-out past the bound", fanOut(16, bigPath), "references expand"},
        {"fan-out of 2^40", fanOut(40, "<path d=\"M 0 0 L 1 1 L 1 0 Z\" fill=\"white\"/>"), "references expand"},
        {"cycle", document("<g id=\"a\"><use xlink:href=\"#b\"/></g><g id=\"b\"><use xlink:href=\"#a\"/></g>"),
         "cycle"},
        {"element drawing itself", document("<g id=\"a\"><g><use xlink:href=\"#a\"/></g></g>"), "cycle"},
        {"image by path", document(imageElement(picture)), "image refers to a file"},
        {"image by file URL", document(imageElement("file://" + picture)), "image refers to a file"},
        {"image by local id", document(imageElement("#a")), "image refers to a file"},
        {"use of another document", document("<use xlink:href=\"other.svg#a\"/>"), "outside the document"},
        {"huge embedded picture", document(imageElement("data:image/bmp;base64," + bmpHeadOnly(8000, 8000))),
         "larger than"},
        {"embedded SVG", document(imageElement("data:image/svg+xml;base64," +
                                               QByteArray::fromStdString(fanOut(40, "<path d=\"M 0 0 L 1 1\"/>"))
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
    auto chain = [](int links) {
        std::string body = "<defs><path id=\"u0\" d=\"M -8 -4 L 8 -4 L 8 4 Z\" fill=\"white\"/>";
        for (int i = 1; i <= links; ++i)
            body += "<use id=\"u" + std::to_string(i) + "\" xlink:href=\"#u" + std::to_string(i - 1) + "\"/>";
        return document(body + "</defs><use xlink:href=\"#u" + std::to_string(links) + "\"/>");
    };
    EXPECT_EQ(-1, view->showSvgLayer(chain(400)));
    EXPECT_NE(std::string::npos, logText().find("references chain deeper"));
    EXPECT_EQ(0, view->showSvgLayer(chain(100)));
    EXPECT_EQ(255, pixel(kW - 1, 0)[0]);
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
        ASSERT_EQ(0, view->showSvgLayer(document(imageElement(std::string("data:image/") + format + ";base64," +
                                                              base64Of(white, format)))))
            << format;
        EXPECT_EQ((Rgb{255, 255, 255}), pixel(0, 0)) << format;
        EXPECT_EQ((Rgb{255, 255, 255}), pixel(3, 3)) << format;
        EXPECT_EQ((Rgb{0, 0, 0}), pixel(4, 4)) << format;
    }
    // A few uses of one outline, shifted: each copy is drawn.
    ASSERT_EQ(0, view->showSvgLayer(document("<defs><path id=\"p\" d=\"M -8 -4 L -7 -4 L -7 -3 L -8 -3 Z\" "
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
    EXPECT_EQ("", svgRenderRefusal(QByteArray::fromStdString(fanOut(10, path))));
    EXPECT_NE("", svgRenderRefusal(QByteArray::fromStdString(fanOut(24, path))));
    // An id that two elements carry counts for both; a missing id draws nothing.
    EXPECT_EQ("", svgRenderRefusal(QByteArray::fromStdString(
                      document("<g id=\"a\"/><g id=\"a\"/><use xlink:href=\"#a\"/><use xlink:href=\"#none\"/>"))));
    EXPECT_EQ("", svgRenderRefusal(QByteArray::fromStdString(document(path))));
    EXPECT_NE("", svgRenderRefusal(QByteArray::fromStdString(document("<use xlink:href=\"#a\"/><g"))));
}
