// SVG layers on a machine of 1 pixel per millimetre: a rectangle lands on
// exact pixels, wherever scale, mirrors, calibration and rotation put it.
#include "ProjectionFixture.h"

#include <QRectF>
#include <QTransform>

#include <cerrno>
#include <cmath>
#include <string>

using namespace testsupport;

namespace {

constexpr int kW = 16;
constexpr int kH = 8;

std::string layerWithRect(double x, double y, double w, double h)
{
    auto n = [](double v) { return std::to_string(v); };
    return "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\">\n"
           "<g id=\"layer-1\"><path d=\"M " + n(x) + " " + n(y) + " L " + n(x + w) + " " + n(y) + " L " + n(x + w) +
           " " + n(y + h) + " L " + n(x) + " " + n(y + h) + " Z\" fill=\"white\"/></g>\n</svg>";
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
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        view.reset();
        setPanel(kW, kH, kW, kH);
        config().XMirror = v.mirrorX;
        config().YMirror = v.mirrorY;
        config().XScale = v.scaleX;
        config().YScale = v.scaleY;
        config().Rotate = v.rotate;
        view = std::make_unique<ProjectView>();
        if (!fbModel)
            attach({kW, kH, 24, 0, 0});
        else
            ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
        view->setCalibrationFactor(v.calibrationX, v.calibrationY);

        ASSERT_EQ(0, view->showSvgLayer(layerWithRect(rect.x(), rect.y(), rect.width(), rect.height())));
        const double sx = (v.mirrorX ? -1 : 1) * v.calibrationX * v.scaleX / 10000.0;
        const double sy = (v.mirrorY ? -1 : 1) * v.calibrationY * v.scaleY / 10000.0;
        EXPECT_EQ(expectedFrame(rect, sx, sy, v.rotate), grayFrame());
    }
}

TEST_F(ProjectionTest, SvgLayerChannelAndFailures)
{
    normalMachine(kW, kH, kW, kH);
    config().ImageChannel = 2;
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-8, -4, 16, 8)));
    EXPECT_EQ((Rgb{0, 255, 0}), pixel(0, 0));
    EXPECT_EQ((Rgb{0, 255, 0}), pixel(kW - 1, kH - 1));

    // The reader's failure text is the one "memory" answer; other faults are -1.
    EXPECT_EQ(-EIO, view->showSvgLayer("00000005"));
    EXPECT_EQ(-1, view->showSvgLayer(""));
    EXPECT_NE(std::string::npos, logText().find("svg data is empty"));
    EXPECT_EQ(-1, view->showSvgLayer("<svg><g>not closed"));
    EXPECT_NE(std::string::npos, logText().find("Can't Load Svg Bytes"));
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
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-8, -4, 3, 2)));
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(2, 1, 4, 2)));
    EXPECT_EQ(expectedFrame(QRectF(2, 1, 4, 2), 1, 1, 0), grayFrame());

    ASSERT_EQ(0, view->showGrayImage(255));
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-1, -1, 2, 2)));
    EXPECT_EQ(expectedFrame(QRectF(-1, -1, 2, 2), 1, 1, 0), grayFrame());
    ASSERT_EQ(0, view->showSvgLayer(layerWithRect(-8, -4, 1, 1)));
    EXPECT_EQ(expectedFrame(QRectF(-8, -4, 1, 1), 1, 1, 0), grayFrame());

    // A document with a view box of its own: content outside it still shows.
    std::string boxed = layerWithRect(3, 1, 2, 2);
    boxed.replace(boxed.find("version=\"1.1\""), 0, "viewBox=\"-1 -1 2 2\" ");
    ASSERT_EQ(0, view->showSvgLayer(boxed));
    EXPECT_EQ(expectedFrame(QRectF(3, 1, 2, 2), 1, 1, 0), grayFrame());
}
