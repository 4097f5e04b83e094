// The test patterns at the usual 1920 x 1080 and at an odd 1366 x 767,
// compared pixel for pixel with images built here from the patterns'
// geometry; narrow panels and bad parameters give defined images; patterns
// are saved on the USB disk only when there is one.
#include "engine/projection/ProjectionFixture.h"

#include "engine/projection/TestImages.h"
#include "support/RecordingShell.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// The expected image: one gray level per pixel.
struct Canvas
{
    Canvas(int width, int height, uint8_t level) : w(width), h(height), px(size_t(width) * height, level) {}

    // Pixels a..b across and c..d down, both ends included; clipped.
    void fill(int a, int b, int c, int d, uint8_t level)
    {
        for (int y = std::max(c, 0); y <= std::min(d, h - 1); ++y)
            for (int x = std::max(a, 0); x <= std::min(b, w - 1); ++x)
                px[size_t(y) * w + x] = level;
    }
    // A line drawn with a pen 3 pixels wide: the centre and one pixel on
    // each side, the square caps one pixel beyond each end.
    void thickVertical(int x, int y1, int y2) { fill(x - 1, x + 1, std::min(y1, y2) - 1, std::max(y1, y2) + 1, 255); }
    void thickHorizontal(int y, int x1, int x2) { fill(std::min(x1, x2) - 1, std::max(x1, x2) + 1, y - 1, y + 1, 255); }

    int w, h;
    std::vector<uint8_t> px;
};

// The image's gray levels, checking that every pixel is gray.
std::vector<uint8_t> grays(const QImage& image)
{
    std::vector<uint8_t> levels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p))
                ADD_FAILURE() << "pixel " << x << "," << y << " is not gray";
            levels.push_back(static_cast<uint8_t>(qRed(p)));
        }
    return levels;
}

// Fails with the first differing pixel and the number of differences.
void expectSame(const Canvas& expected, const QImage& image)
{
    ASSERT_EQ(QImage::Format_RGB888, image.format());
    ASSERT_EQ(expected.w, image.width());
    ASSERT_EQ(expected.h, image.height());
    const std::vector<uint8_t> actual = grays(image);
    size_t differences = 0;
    size_t first = 0;
    for (size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected.px[i] && differences++ == 0)
            first = i;
    EXPECT_EQ(0u, differences) << "first at " << first % expected.w << "," << first / expected.w << ": "
                               << int(actual[first]) << " instead of " << int(expected.px[first]);
}

struct Panel
{
    int w;
    int h;
};

const Panel kPanels[] = {{1920, 1080}, {1366, 767}};

// The grid: lines every s = (W / 100) x 10 pixels out from the centre lines
// at W/2 - 3 and H/2 - 3, mirrored about the middle of the 3-pixel border
// lines, while they stay more than 2 pixels in.
Canvas gridLines(int w, int h)
{
    Canvas c(w, h, 0);
    const int s = (w / 100) * 10;
    auto across = [s](int size, const std::function<void(int)>& line) {
        line(size / 2 - 3);
        for (int p = size / 2 - 3 - s; s > 0 && p > 2; p -= s) {
            line(p);
            line((size - 3) - p);
        }
        line(3);
        line(size - 3);
    };
    across(w, [&](int x) { c.thickVertical(x, 3, h - 3); });
    across(h, [&](int y) { c.thickHorizontal(y, 3, w - 3); });
    // The corner square's outline from (3, 3) to (52, 52).
    c.thickVertical(3, 3, 52);
    c.thickVertical(52, 3, 52);
    c.thickHorizontal(3, 3, 52);
    c.thickHorizontal(52, 3, 52);
    return c;
}

class TestImages : public ProjectionTest
{
protected:
    void useResolution(const Panel& p)
    {
        config().XRes = static_cast<uint32_t>(p.w);
        config().YRes = static_cast<uint32_t>(p.h);
    }
};

} // namespace

TEST_F(TestImages, GridLinesStandAtTheirCentres)
{
    for (const Panel& p : kPanels) {
        SCOPED_TRACE(p.w);
        useResolution(p);
        QImage image;
        makeGridLineImage(image);
        expectSame(gridLines(p.w, p.h), image);
    }
    // The usual panel: a step of 190, centre lines at 957 and 537.
    useResolution(kPanels[0]);
    QImage image;
    makeGridLineImage(image);
    for (int x : {957, 767, 577, 387, 197, 7, 1150, 1340, 1530, 1720, 1910, 3, 1917})
        EXPECT_EQ(qRgb(255, 255, 255), image.pixel(x, 600)) << x;
    for (int x : {956 - 3, 960, 1148 - 2})
        EXPECT_EQ(qRgb(0, 0, 0), image.pixel(x, 600)) << x;
    for (int y : {537, 347, 157, 730, 920, 3, 1077})
        EXPECT_EQ(qRgb(255, 255, 255), image.pixel(600, y)) << y;
}

TEST_F(TestImages, NarrowPanelsGetCentreAndBorderLines)
{
    for (const Panel p : {Panel{99, 60}, Panel{7, 5}, Panel{1, 1}}) {
        SCOPED_TRACE(p.w);
        useResolution(p);
        QImage image;
        makeGridLineImage(image);
        expectSame(gridLines(p.w, p.h), image);
    }
}

TEST_F(TestImages, StripeStairAndCentreMarker)
{
    for (const Panel& p : kPanels) {
        SCOPED_TRACE(p.w);
        useResolution(p);
        const int cx = p.w / 2;
        const int cy = p.h / 2;

        Canvas stripes(p.w, p.h, 255);
        for (int k = 0; k < 6; ++k)
            stripes.fill(cx - 3 + k, cx - 3 + k, cy - 750 + 250 * k, cy - 551 + 250 * k, 0);
        QImage image;
        makeStripeImage(image);
        expectSame(stripes, image);
        // The fourth stripe starts at the centre pixel.
        EXPECT_EQ(qRgb(0, 0, 0), image.pixel(cx, cy));
        EXPECT_EQ(qRgb(255, 255, 255), image.pixel(cx, cy - 1));

        Canvas marker(p.w, p.h, 0);
        marker.fill(0, 39, 0, 39, 255);
        marker.fill(cx - 19, cx - 11, cy - 4, cy + 4, 255);
        marker.fill(cx + 11, cx + 19, cy - 4, cy + 4, 255);
        marker.fill(cx - 4, cx + 4, cy - 29, cy - 21, 255);
        marker.fill(cx - 4, cx + 4, cy + 21, cy + 29, 255);
        makeMidpointImage(image);
        expectSame(marker, image);
    }
}

TEST_F(TestImages, TwoHundredEightyBlocks)
{
    for (const Panel& p : kPanels) {
        SCOPED_TRACE(p.w);
        useResolution(p);
        // Outlined and filled, each block covers its corners (x, y) to
        // (x + 7, y + 7) and the outline's pixel beyond them.
        Canvas blocks(p.w, p.h, 0);
        for (int j = 0; j < 14; ++j)
            for (int i = 0; i < 20; ++i)
                blocks.fill(5 + 100 * i, 5 + 100 * i + 8, 3 + 82 * j, 3 + 82 * j + 8, 255);
        QImage image;
        makeBlockImage(image);
        expectSame(blocks, image);
    }
    // All 280 lie on the usual panel, the last at (1905, 1069).
    useResolution(kPanels[0]);
    QImage image;
    makeBlockImage(image);
    int lit = 0;
    for (const uint8_t v : grays(image))
        lit += v == 255;
    EXPECT_EQ(280 * 81, lit);
}

TEST_F(TestImages, LabelledFrameLightsOnlyItsLabelsBordersAndSegments)
{
    for (const Panel& p : kPanels) {
        for (const bool whiteBackground : {false, true}) {
            SCOPED_TRACE(std::to_string(p.w) + (whiteBackground ? " black on white" : " white on black"));
            useResolution(p);
            const uint8_t background = whiteBackground ? 255 : 0;
            const uint8_t drawing = 255 - background;
            QImage image;
            makeAbcImage(image, whiteBackground);
            ASSERT_EQ(QImage::Format_RGB888, image.format());
            ASSERT_EQ(p.w, image.width());

            // Outside the two label columns: exactly the border and the
            // segments that fall on the panel.
            Canvas frame(p.w, p.h, background);
            frame.fill(0, p.w - 1, 0, 4, drawing);
            frame.fill(0, p.w - 1, p.h - 5, p.h - 1, drawing);
            frame.fill(0, 4, 0, p.h - 1, drawing);
            frame.fill(p.w - 5, p.w - 1, 0, p.h - 1, drawing);
            frame.fill(p.w / 2 + 150, p.w / 2 + 150, 500, 749, drawing);
            frame.fill(p.w / 2 + 151, p.w / 2 + 151, 750, 999, drawing);
            const std::vector<uint8_t> actual = grays(image);
            auto inLabels = [&](int x, int y) {
                return y >= 5 && y < p.h - 5 && ((x >= 5 && x < p.w / 10) || (x >= p.w / 2 && x < p.w / 2 + p.w / 10));
            };
            // Both columns hold the same text; the segments at W/2 + 150 and
            // 151 cross the second, so those two columns of pixels are left out.
            auto besideSegments = [&](int x) {
                const int offset = x >= p.w / 2 ? x - p.w / 2 : x;
                return offset != 150 && offset != 151;
            };
            int labelPixels[2] = {0, 0};
            int wrong = 0;
            for (int y = 0; y < p.h; ++y)
                for (int x = 0; x < p.w; ++x) {
                    const uint8_t v = actual[size_t(y) * p.w + x];
                    const bool onSegment = (x == p.w / 2 + 150 && y >= 500 && y <= 749) ||
                                           (x == p.w / 2 + 151 && y >= 750 && y <= 999);
                    if (!inLabels(x, y) || onSegment) {
                        if (v != frame.px[size_t(y) * p.w + x] && wrong++ < 5)
                            ADD_FAILURE() << "pixel " << x << "," << y;
                    } else if (besideSegments(x)) {
                        labelPixels[x >= p.w / 2] += v != background;
                    }
                }
            EXPECT_EQ(0, wrong);
            // The same text in both columns, right-aligned, from the top.
            EXPECT_GT(labelPixels[0], 1000);
            EXPECT_EQ(labelPixels[0], labelPixels[1]);
            int topRows = 0;
            for (int y = 5; y < 105; ++y)
                for (int x = p.w / 20; x < p.w / 10; ++x)
                    topRows += actual[size_t(y) * p.w + x] != background;
            EXPECT_GT(topRows, 100) << "no label at the top right of the first column";
        }
    }
}

TEST_F(TestImages, DotMatrixAndGrayLevels)
{
    config().XRes = 200;
    config().YRes = 100;
    config().Width = 100.0f; // 2 pixels per mm
    QImage image;
    makeDotImage(image, 3, 2, 5.0f, 110, 40, 30, 30, 200);
    ASSERT_EQ(QImage::Format_RGB888, image.format());
    // Dots of 10 pixels at (110, 40), (140, 40), (170, 40), (110, 70) ...
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
            SCOPED_TRACE(std::to_string(c) + "," + std::to_string(r));
            EXPECT_EQ(qRgb(200, 200, 200), image.pixel(110 + 30 * c, 40 + 30 * r));
            EXPECT_EQ(qRgb(200, 200, 200), image.pixel(110 + 30 * c + 3, 40 + 30 * r));
            EXPECT_EQ(qRgb(0, 0, 0), image.pixel(110 + 30 * c + 7, 40 + 30 * r));
            EXPECT_EQ(qRgb(0, 0, 0), image.pixel(110 + 30 * c, 40 + 30 * r - 7));
        }
    EXPECT_EQ(qRgb(0, 0, 0), image.pixel(195, 40));
    EXPECT_GT(qRed(image.pixel(20, 10)), 100); // the triangle's corner, antialiased
    // Nothing that could make dots: a black image, in no time.
    const auto black = [](const QImage& i) {
        return i.format() == QImage::Format_RGB888 && i.width() == 200 &&
               std::all_of(i.constBits(), i.constBits() + i.sizeInBytes(), [](uchar b) { return b == 0; });
    };
    const float nan = std::nanf("");
    makeDotImage(image, 0, 2, 5.0f, 110, 40, 30, 30, 200);
    EXPECT_TRUE(black(image));
    makeDotImage(image, 3, -1, 5.0f, 110, 40, 30, 30, 200);
    EXPECT_TRUE(black(image));
    makeDotImage(image, 100000, 100000, 5.0f, 110, 40, 30, 30, 200);
    EXPECT_TRUE(black(image));
    for (const float diameter : {0.0f, -2.0f, nan, INFINITY}) {
        makeDotImage(image, 3, 2, diameter, 110, 40, 30, 30, 200);
        EXPECT_TRUE(black(image)) << diameter;
    }
    makeDotImage(image, 3, 2, 5.0f, 110, 40, 30, 30, 256);
    EXPECT_TRUE(black(image));
    makeDotImage(image, 3, 2, 5.0f, 110, 40, 30, 30, -1);
    EXPECT_TRUE(black(image));
    for (const float width : {0.0f, -1.0f, nan}) {
        config().Width = width;
        makeDotImage(image, 3, 2, 5.0f, 110, 40, 30, 30, 200);
        EXPECT_TRUE(black(image)) << width;
    }

    makeGrayImage(image, 77);
    ASSERT_EQ(QImage::Format_Indexed8, image.format());
    EXPECT_TRUE(image.isGrayscale());
    EXPECT_EQ(qRgb(77, 77, 77), image.pixel(0, 0));
    EXPECT_EQ(qRgb(77, 77, 77), image.pixel(199, 99));
    makeGrayImage(image, 300);
    EXPECT_EQ(qRgb(0, 0, 0), image.pixel(199, 99));
}

TEST_F(TestImages, ResolutionsThatAreNoPanelGiveNoImage)
{
    QImage image(4, 4, QImage::Format_RGB888);
    config().XRes = 0;
    makeStripeImage(image);
    EXPECT_TRUE(image.isNull());
    config().XRes = 1920;
    config().YRes = 40000;
    makeAbcImage(image, false);
    EXPECT_TRUE(image.isNull());
}

TEST_F(TestImages, SavedOnTheUsbDiskOnly)
{
    RecordingShell shell;
    config().XRes = 320;
    config().YRes = 200;
    QImage image;
    // No disk: nothing lands in the root folder, and nothing is flushed.
    makeAbcImage(image, false);
    makeGridLineImage(image);
    makeStripeImage(image);
    EXPECT_FALSE(fileExists(rootPath("/ABC.png")));
    EXPECT_FALSE(fileExists(rootPath("/black.png")));
    EXPECT_FALSE(fileExists(rootPath("/test.png")));
    EXPECT_TRUE(shell.commands().empty());

    makeDirs(rootPath("/media/sda1"));
    writeFile(rootPath("/media/sda1/ABC.png"), "an old file");
    SystemState::instance()->setUsbPath("/media/sda1");
    const struct
    {
        const char* name;
        void (*build)(QImage&);
    } saved[] = {{"/ABC.png", [](QImage& i) { makeAbcImage(i, true); }},
                 {"/black.png", makeGridLineImage},
                 {"/test.png", makeStripeImage}};
    for (const auto& s : saved) {
        shell.clear();
        s.build(image);
        const QImage file(QString::fromStdString(rootPath(std::string("/media/sda1") + s.name)));
        ASSERT_FALSE(file.isNull()) << s.name;
        EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), file.convertToFormat(QImage::Format_RGB32)) << s.name;
        // Only the labelled frame is flushed to the disk at once.
        EXPECT_EQ(std::string(s.name) == "/ABC.png" ? std::vector<std::string>{"sync"} : std::vector<std::string>{},
                  shell.commands())
            << s.name;
    }

    // A disk that cannot take the file costs a log line only.
    shell.clear();
    SystemState::instance()->setUsbPath("/media/gone");
    makeAbcImage(image, false);
    EXPECT_FALSE(image.isNull());
    EXPECT_TRUE(shell.commands().empty());
    EXPECT_NE(std::string::npos, logText().find("Test image not saved: /media/gone/ABC.png"));
}
