// SVG layers on a machine of 1 pixel per millimetre: a rectangle lands on
// exact pixels, wherever scale, mirrors, calibration and rotation put it.
#include "engine/projection/ProjectionFixture.h"

#include "engine/projection/SvgGray.h"

#include <QRectF>
#include <QTransform>

#include <cerrno>
#include <cmath>
#include <string>

using namespace testsupport;

namespace {

constexpr int kW = 16;
constexpr int kH = 8;

// A layer with one rectangle. White layers are drawn in gray, coloured ones
// in colour: tests run both ways.
std::string layerWithRect(double x, double y, double w, double h, const std::string& fill = "white")
{
    auto n = [](double v) { return std::to_string(v); };
    return "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\">\n"
           "<g id=\"layer-1\"><path d=\"M " + n(x) + " " + n(y) + " L " + n(x + w) + " " + n(y) + " L " + n(x + w) +
           " " + n(y + h) + " L " + n(x) + " " + n(y + h) + " Z\" fill=\"" + fill + "\"/></g>\n</svg>";
}

// The frame the rectangle should give: millimetres around the panel centre,
// scaled by pixels per mm x calibration x machine scale x mirror, then rotated.
std::vector<int> expectedFrame(const QRectF& rectMm, double sx, double sy, double degrees)
{
    QTransform t;
    t.translate(kW / 2, kH / 2);
    t.scale(sx, sy);
    t.rotate(degrees);
    const QRectF pixels = t.mapRect(rectMm);
    std::vector<int> frame(kW * kH, 0);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (pixels.contains(x + 0.5, y + 0.5))
                frame[y * kW + x] = 255;
    return frame;
}

const char* const kFills[] = {"white", "#ff0000"};

// The first byte of every pixel, which both a white and a red layer set
// (the channel step keeps only it); the other two must be 0.
std::vector<int> firstBytes(const sim::FrameBufferModel& model)
{
    std::vector<int> bytes;
    const QImage frame = model.frame();
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const QRgb p = frame.pixel(x, y);
            EXPECT_EQ(0, qGreen(p) | qBlue(p)) << x << "," << y;
            bytes.push_back(qRed(p));
        }
    return bytes;
}

} // namespace

TEST_F(ProjectionTest, SvgRectangleOnExactPixels)
{
    struct Variant
    {
        const char* name;
        bool mirrorX, mirrorY;
        uint32_t scaleX, scaleY;
        float calibrationX, calibrationY;
        float rotate;
    };
    const Variant variants[] = {
        {"plain", false, false, 10000, 10000, 1, 1, 0},
        {"mirror X", true, false, 10000, 10000, 1, 1, 0},
        {"mirror Y", false, true, 10000, 10000, 1, 1, 0},
        {"machine scale", false, false, 5000, 20000, 1, 1, 0},
        {"calibration", false, false, 10000, 10000, 0.5f, 2, 0},
        {"rotation in degrees", false, false, 10000, 10000, 1, 1, 90},
    };
    const QRectF rect(-4, -3, 4, 2); // asymmetric about both axes
    for (const Variant& v : variants)
        for (const char* fill : kFills) {
            SCOPED_TRACE(std::string(v.name) + ", " + fill);
            view.reset();
            setPanel(kW, kH, kW, kH);
            config().XMirror = v.mirrorX;
            config().YMirror = v.mirrorY;
            config().XScale = v.scaleX;
            config().YScale = v.scaleY;
            config().Rotate = v.rotate;
            config().ImageChannel = 1;
            view = std::make_unique<ProjectView>();
            if (!fbModel)
                attach({kW, kH, 24, 0, 0});
            else
                ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
            view->setCalibrationFactor(v.calibrationX, v.calibrationY);

            ASSERT_EQ(0, view->showSvgLayer(layerWithRect(rect.x(), rect.y(), rect.width(), rect.height(), fill)));
            const double sx = (v.mirrorX ? -1 : 1) * v.calibrationX * v.scaleX / 10000.0;
            const double sy = (v.mirrorY ? -1 : 1) * v.calibrationY * v.scaleY / 10000.0;
            EXPECT_EQ(expectedFrame(rect, sx, sy, v.rotate), firstBytes(*fbModel));
        }
}

TEST_F(ProjectionTest, SvgLayerChannelAndFailures)
{
    normalMachine(kW, kH, kW, kH);
    const struct
    {
        const char* fill;
        int channel;
        Rgb expected;
    } cases[] = {{"white", 2, {0, 255, 0}},       {"#808080", 0, {128, 128, 128}}, {"#ff0000", 0, {255, 0, 0}},
                 {"#ff0000", 2, {0, 0, 0}},        {"rgb(0,200,0)", 2, {0, 200, 0}}};
    for (const auto& c : cases) {
        config().ImageChannel = c.channel;
        ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-8, -4, 16, 8, c.fill)));
        EXPECT_EQ(c.expected, pixel(0, 0)) << c.fill << ", channel " << c.channel;
        EXPECT_EQ(c.expected, pixel(kW - 1, kH - 1)) << c.fill << ", channel " << c.channel;
    }

    // The reader's failure text is the one "memory" answer; other faults are -1.
    EXPECT_EQ(-EIO, view->showSvgLayer("00000005"));
    EXPECT_EQ(-1, view->showSvgLayer(""));
    EXPECT_NE(std::string::npos, logText().find("svg data is empty"));
    EXPECT_EQ(-1, view->showSvgLayer("<svg><g>not closed"));
    EXPECT_NE(std::string::npos, logText().find("Can't Load Svg Bytes"));
}

TEST_F(ProjectionTest, SvgLayersReverseAlone)
{
    normalMachine(kW, kH, kW, kH);
    config().Reverse = true;
    config().ImageChannel = 0;
    for (const char* fill : kFills) {
        ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-4, -3, 4, 2, fill)));
        std::vector<int> expected = expectedFrame(QRectF(-4, -3, 4, 2), 1, 1, 0);
        for (int& v : expected)
            v = 255 - v;
        EXPECT_EQ(expected, grayFrame()) << fill;
    }
}

TEST_F(ProjectionTest, SvgOutlineOffsetGrowsTheRectangle)
{
    setPanel(kW, kH, kW, kH);
    config().OutlineGrayOffset = 1000; // um: one pixel all round
    attach({kW, kH, 24, 0, 0});
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-4, -2, 4, 4)));
    EXPECT_EQ(expectedFrame(QRectF(-5, -3, 6, 6), 1, 1, 0), grayFrame());
}

TEST_F(ProjectionTest, EachLayerShowsAloneWhateverCameBefore)
{
    normalMachine(kW, kH, kW, kH);
    config().ImageChannel = 1;
    for (const char* fill : kFills) {
        SCOPED_TRACE(fill);
        ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-8, -4, 3, 2, fill)));
        ASSERT_EQ(0, view->showSvgLayer(layerWithRect(2, 1, 4, 2, fill)));
        EXPECT_EQ(expectedFrame(QRectF(2, 1, 4, 2), 1, 1, 0), firstBytes(*fbModel));

        ASSERT_EQ(0, view->showGrayImage(255));
        ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-1, -1, 2, 2, fill)));
        EXPECT_EQ(expectedFrame(QRectF(-1, -1, 2, 2), 1, 1, 0), firstBytes(*fbModel));
        ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-8, -4, 1, 1, fill)));
        EXPECT_EQ(expectedFrame(QRectF(-8, -4, 1, 1), 1, 1, 0), firstBytes(*fbModel));

        // A document with a view box of its own: content outside it still shows.
        std::string boxed = layerWithRect(3, 1, 2, 2, fill);
        boxed.replace(boxed.find("version=\"1.1\""), 0, "viewBox=\"-1 -1 2 2\" ");
        ASSERT_EQ(0, view->showSvgLayer(boxed));
        EXPECT_EQ(expectedFrame(QRectF(3, 1, 2, 2), 1, 1, 0), firstBytes(*fbModel));
    }
}

TEST(SvgGrayTest, OnlyDocumentsInGraysCountAsGray)
{
    const struct
    {
        const char* text;
        bool gray;
    } cases[] = {
        {"<svg><path d=\"M 0 0 L 1 1\"/></svg>", true},
        {"<svg><g style=\"fill:#FFFFFF; stroke : rgb( 9, 9, 9 )\"><path fill-rule=\"evenodd\"/></g></svg>", true},
        {"<svg><path fill=\"#777\" stroke=\"none\" stroke-width=\"2\" fill-opacity=\"0.5\"/></svg>", true},
        {"<svg><path fill=\"Silver\" color=\"black\"/><title>fill the vat</title></svg>", true},
        {"<svg><path fill=\"#778\"/></svg>", false},
        {"<svg><path style=\"FILL:red\"/></svg>", false},
        {"<svg><path fill=\"currentColor\" color=\"#00ff00\"/></svg>", false},
        {"<svg><path fill=\"url(#g)\"/></svg>", false},
        {"<svg><image href=\"x.png\"/></svg>", false},
        {"<svg><stop stop-color=\"rgb(1,2,3)\"/></svg>", false},
        {"<svg><path fill=\"\"/></svg>", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.gray, svgUsesOnlyGrays(c.text)) << c.text;
}

// Test images and the mask grid are drawn over the last layer shown, whatever
// way the layer took to the panel, and the steps apply once to the whole.
TEST_F(ProjectionTest, ImagesAreDrawnOverTheLastLayerShown)
{
    normalMachine(kW, kH, kW, kH);
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.fill(qRgb(90, 90, 90));
    const std::string picturePath = "/media/sda1/picture.png";
    makeDirs(rootPath("/media/sda1"));
    ASSERT_TRUE(picture.save(QString::fromStdString(rootPath(picturePath)), "PNG"));
    auto withPicture = [](std::vector<int> frame) {
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                frame[y * kW + x] = 90;
        return frame;
    };
    const std::vector<int> rect = expectedFrame(QRectF(2, 1, 4, 2), 1, 1, 0);

    // A gray layer after a gray level: the layer is the background, not the level.
    ASSERT_EQ(0, view->showGrayImage(255));
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-6, -3, 4, 2)));
    ASSERT_EQ(0, view->drawImage(picture));
    EXPECT_EQ(withPicture(expectedFrame(QRectF(-6, -3, 4, 2), 1, 1, 0)), grayFrame());

    // A colour layer keeps its colour under the picture.
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(2, 1, 4, 2, "#ff0000")));
    ASSERT_EQ(0, view->drawImage(picture));
    EXPECT_EQ((Rgb{90, 90, 90}), pixel(1, 1));
    EXPECT_EQ((Rgb{255, 0, 0}), pixel(kW / 2 + 2, kH / 2 + 1));
    EXPECT_EQ((Rgb{0, 0, 0}), pixel(kW - 1, kH - 1));

    // A decoded layer, then a picture from a file.
    std::vector<uint8_t> layer(kW * kH);
    for (size_t i = 0; i < layer.size(); ++i)
        layer[i] = uint8_t(i * 2);
    ASSERT_EQ(0, showLayer(layer));
    ASSERT_EQ(0, view->showImage(picturePath, 1));
    EXPECT_EQ(withPicture(std::vector<int>(layer.begin(), layer.end())), grayFrame());

    // With the inversion on, the layer under the picture is the layer as
    // drawn, inverted once with it.
    config().Reverse = true;
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(2, 1, 4, 2)));
    ASSERT_EQ(0, view->drawImage(picture));
    std::vector<int> inverted = withPicture(rect);
    for (int& v : inverted)
        v = 255 - v;
    EXPECT_EQ(inverted, grayFrame());
    // A second picture keeps the first: both lie over the same layer.
    ASSERT_EQ(0, view->drawImage(picture.copy(0, 0, 1, 1)));
    EXPECT_EQ(inverted, grayFrame());
}
