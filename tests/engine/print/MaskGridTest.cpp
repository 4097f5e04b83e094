// The mask grid on a printer of the simulated machine: seed levels, blocks
// and their blur, the bilinear surface through the cell centres, the saved
// mask file, and every size or level that could break it.
#include "engine/print/PanelPrinter.h"

#include "base/config/ConfigStore.h"
#include "base/config/SystemState.h"
#include "base/log/RootPath.h"
#include "engine/print/MaskGrid.h"
#include "engine/projection/ProjectView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <string>
#include <vector>

namespace {

int gray(const QImage& frame, int x, int y)
{
    const QRgb p = frame.pixel(x, y);
    EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << x << "," << y;
    return qRed(p);
}

std::vector<float> levels(const MaskGrid& grid)
{
    std::vector<float> values;
    for (const MaskCell& cell : grid.cells())
        values.push_back(cell.value);
    return values;
}

// Sets every cell's level, row by row.
void setLevels(MaskGrid& grid, const std::vector<std::vector<unsigned>>& rows)
{
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c)
            ASSERT_EQ(0, grid.setCellValue(int(c), int(r), rows[r][c]));
}

} // namespace

TEST(MaskGrid, SeedsRunOnFromGridToGrid)
{
    panel::startPrinter(1920, 1080);
    MaskGrid first(1920, 1080, 24);
    ASSERT_EQ(0, first.setGridSize(4, 3));
    EXPECT_EQ((std::vector<float>{210, 210, 180, 180, 180, 210, 210, 240, 210, 210, 180, 180}), levels(first));
    EXPECT_EQ("210 210 180 180 \n180 210 210 240 \n210 210 180 180 \n", first.cellsToText().toStdString());
    // Cells of 480 x 360 pixels, centred.
    EXPECT_EQ(240, first.cells()[0].x);
    EXPECT_EQ(180, first.cells()[0].y);
    EXPECT_EQ(1680, first.cells()[11].x);
    EXPECT_EQ(900, first.cells()[11].y);
    // Only once per grid.
    EXPECT_EQ(-1, first.setGridSize(2, 2));

    // The next grid starts where the last one left the counter (180).
    MaskGrid second(1920, 1080, 24);
    ASSERT_EQ(0, second.setGridSize(2, 2));
    EXPECT_EQ((std::vector<float>{150, 150, 150, 180}), levels(second));

    // A long row of cells goes down by 30 every second cell and below 0:
    // the levels are kept as they are.
    MaskGrid wide(1920, 1080, 24);
    ASSERT_EQ(0, wide.setGridSize(20, 1));
    EXPECT_EQ(150, wide.cells()[0].value);
    EXPECT_EQ(-120, wide.cells()[19].value);
    EXPECT_EQ("150 150 120 120 90 90 60 60 30 30 0 0 -30 -30 -60 -60 -90 -90 -120 -120 \n",
              wide.cellsToText().toStdString());
}

TEST(MaskGrid, SeedCounterStopsAtTheEndOfItsRange)
{
    panel::startPrinter(64, 36);
    // Each grid of one row of 32768 cells takes the counter down by 491520:
    // some 4400 of them reach the end of a 32-bit counter.
    float last = 240;
    for (int n = 0; n < 4500; ++n) {
        MaskGrid grid(32768, 1, 24);
        ASSERT_EQ(0, grid.setGridSize(32768, 1));
        const float value = grid.cells().back().value;
        ASSERT_LE(value, last) << "grid " << n;
        last = value;
    }
    EXPECT_EQ(static_cast<float>(INT32_MIN), last);
}

TEST(MaskGrid, BlocksAreBlurredAndClamped)
{
    Printer* printer = panel::startPrinter(1920, 1080);
    MaskGrid grid(1920, 1080, 24);
    ASSERT_EQ(0, grid.setGridSize(4, 3));
    setLevels(grid, {{200, 255, 0, 270}, {1, 100, 100, 100}, {100, 100, 100, 100}});
    // The last cell set is the only one shown.
    QImage frame = panel::frame();
    EXPECT_EQ(100, gray(frame, 1700, 900));
    EXPECT_EQ(0, gray(frame, 1000, 500));
    // Levels stay as given, also beyond 255.
    EXPECT_EQ("200 255 0 270 \n1 100 100 100 \n100 100 100 100 \n", grid.cellsToText().toStdString());

    ASSERT_EQ(0, grid.drawBlocks());
    frame = panel::frame();
    ASSERT_EQ(grid.image()->convertToFormat(QImage::Format_RGB32), frame.convertToFormat(QImage::Format_RGB32));
    // Inside a block the blur's weights take one level off; 270 is 255 before.
    EXPECT_EQ(199, gray(frame, 240, 180));
    EXPECT_EQ(254, gray(frame, 720, 180));
    EXPECT_EQ(0, gray(frame, 1200, 180));
    EXPECT_EQ(254, gray(frame, 1680, 180));
    EXPECT_EQ(0, gray(frame, 240, 540));
    EXPECT_EQ(99, gray(frame, 1000, 900));
    // Block edges are softened: between 200 and 255 at x = 479 | 480.
    EXPECT_GT(gray(frame, 479, 180), 199);
    EXPECT_LT(gray(frame, 479, 180), 254);
    EXPECT_GT(gray(frame, 480, 180), 199);
    EXPECT_LT(gray(frame, 480, 180), 254);
    // The outermost pixel frame is black.
    for (int x = 0; x < 1920; x += 7) {
        EXPECT_EQ(0, gray(frame, x, 0));
        EXPECT_EQ(0, gray(frame, x, 1079));
    }
    for (int y = 0; y < 1080; y += 7) {
        EXPECT_EQ(0, gray(frame, 0, y));
        EXPECT_EQ(0, gray(frame, 1919, y));
    }

    // Seeds below 0 are blocks of black, not of wrapped bright levels.
    MaskGrid wide(1920, 1080, 24);
    ASSERT_EQ(0, wide.setGridSize(20, 2));
    ASSERT_LT(wide.cells()[19].value, 0);
    ASSERT_EQ(0, wide.drawBlocks());
    EXPECT_EQ(0, gray(panel::frame(), 19 * 96 + 48, 270));
    (void)printer;
}

TEST(MaskGrid, UniformBlocksComeOutOneLevelLower)
{
    panel::startPrinter(320, 200);
    for (const unsigned level : {0u, 1u, 200u, 255u}) {
        MaskGrid grid(320, 200, 24);
        ASSERT_EQ(0, grid.setGridSize(4, 4));
        setLevels(grid, std::vector<std::vector<unsigned>>(4, std::vector<unsigned>(4, level)));
        ASSERT_EQ(0, grid.drawBlocks());
        const QImage frame = panel::frame();
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 320; ++x) {
                const bool border = x == 0 || y == 0 || x == 319 || y == 199;
                ASSERT_EQ(border ? 0 : std::max<int>(0, int(level) - 1), gray(frame, x, y)) << x << "," << y;
            }
    }
}

TEST(MaskGrid, BlurOfOneLitPixelIsTheKernelItself)
{
    // Cells of one pixel: a single lit cell shows the blur's weights times 255,
    // truncated: centre 0.147761 (37.68), edges 0.118318 (30.17), corners
    // 0.0947416 (24.16).
    panel::startPrinter(8, 8);
    MaskGrid grid(8, 8, 24);
    ASSERT_EQ(0, grid.setGridSize(8, 8));
    std::vector<std::vector<unsigned>> dark(8, std::vector<unsigned>(8, 0));
    dark[3][4] = 255; // row 3, column 4
    setLevels(grid, dark);
    ASSERT_EQ(0, grid.drawBlocks());
    const QImage frame = panel::frame();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int dx = std::abs(x - 4), dy = std::abs(y - 3);
            const int expected = dx > 1 || dy > 1 ? 0 : dx + dy == 0 ? 37 : dx + dy == 1 ? 30 : 24;
            EXPECT_EQ(expected, gray(frame, x, y)) << x << "," << y;
        }
}

TEST(MaskGrid, SurfaceHoldsTheExactTruncatedLevels)
{
    // Centres at 50 and 150; levels 0 and 50 down the first column and 50
    // and 100 down the second rise by exactly half a level a row, and the
    // pixel columns then differ by exactly 50: every level is a multiple of
    // one half, held exactly, so each pixel is its level truncated.
    panel::startPrinter(200, 200);
    MaskGrid grid(200, 200, 24);
    ASSERT_EQ(0, grid.setGridSize(2, 2));
    setLevels(grid, {{0, 50}, {50, 100}});
    ASSERT_EQ(0, grid.showOnPanel());
    const QImage frame = panel::frame();
    for (int t = 0; t < 200; ++t) {
        // Down the pixel columns of the centres, clamped at 0 above the first centre.
        const int left = t < 50 ? 0 : (t - 50) / 2;
        ASSERT_EQ(left, gray(frame, 50, t)) << "row " << t;
        ASSERT_EQ(static_cast<int>(std::floor(0.5 * t + 25)), gray(frame, 150, t)) << "row " << t;
        if (t < 50)
            continue; // between the columns the slope is no multiple of a half here
        for (int x = 0; x < 200; ++x) {
            const double level = left + 0.5 * (x - 50);
            ASSERT_EQ(std::max(0, static_cast<int>(std::floor(level))), gray(frame, x, t)) << x << "," << t;
        }
    }
}

TEST(MaskGrid, SurfaceRunsStraightBetweenCellCentresAndStopsAtTheEnds)
{
    // Cells of 100 x 100 pixels: centres at 50 and 150.
    panel::startPrinter(200, 200);
    MaskGrid grid(200, 200, 24);
    ASSERT_EQ(0, grid.setGridSize(2, 2));
    setLevels(grid, {{0, 0}, {255, 255}});
    ASSERT_EQ(0, grid.showOnPanel());
    const QImage frame = panel::frame();
    // 2.55 levels a row from row 50 to row 150, continued above and below
    // until 0 and 255; every line the same.
    for (int y = 0; y < 200; ++y) {
        const double ramp = std::min(255.0, std::max(0.0, 2.55 * (y - 50)));
        const int level = gray(frame, 0, y);
        EXPECT_NEAR(ramp, level, 1.0) << "row " << y;
        for (int x = 1; x < 200; ++x)
            ASSERT_EQ(level, gray(frame, x, y)) << x << "," << y;
    }
    EXPECT_EQ(0, gray(frame, 0, 50));
    EXPECT_EQ(255, gray(frame, 0, 150));
}

TEST(MaskGrid, SurfaceIsBilinearBetweenKnownCentres)
{
    panel::startPrinter(1920, 1080);
    MaskGrid grid(1920, 1080, 24);
    ASSERT_EQ(0, grid.setGridSize(3, 3));
    // Centres at x = 320, 960, 1600 and y = 180, 540, 900.
    const std::vector<std::vector<unsigned>> values = {{0, 128, 255}, {64, 64, 64}, {255, 0, 100}};
    setLevels(grid, values);
    ASSERT_EQ(0, grid.showOnPanel());
    const QImage frame = panel::frame();
    const int xs[3] = {320, 960, 1600};
    const int ys[3] = {180, 540, 900};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(int(values[r][c]), gray(frame, xs[c], ys[r])) << c << "," << r;
    // Inside the cells' square the surface is bilinear.
    for (int y = 180; y <= 900; y += 37)
        for (int x = 320; x <= 1600; x += 41) {
            const int c = x < 960 ? 0 : 1;
            const int r = y < 540 ? 0 : 1;
            const double fx = double(x - xs[c]) / 640;
            const double fy = double(y - ys[r]) / 360;
            const double top = values[r][c] + fx * (double(values[r][c + 1]) - values[r][c]);
            const double bottom = values[r + 1][c] + fx * (double(values[r + 1][c + 1]) - values[r + 1][c]);
            EXPECT_NEAR(top + fy * (bottom - top), gray(frame, x, y), 2.0) << x << "," << y;
        }
    // Beyond the outer centres the lines go on, clamped to 0..255.
    EXPECT_EQ(0, gray(frame, 0, 180));      // 0 - 128/640 x 320 -> below 0
    EXPECT_EQ(255, gray(frame, 1919, 180)); // 255 + 127/640 x 319 -> above 255
    EXPECT_EQ(grid.image()->convertToFormat(QImage::Format_RGB32), frame.convertToFormat(QImage::Format_RGB32));
}

TEST(MaskGrid, OddWidthsAreAddressedByRow)
{
    // 1366 pixels of 3 bytes: 4098 bytes, padded to 4100 in the image.
    panel::startPrinter(1366, 768);
    MaskGrid grid(1366, 768, 24);
    ASSERT_EQ(0, grid.setGridSize(2, 2));
    ASSERT_EQ(4100, grid.image()->bytesPerLine());
    ASSERT_EQ(0, grid.setCellValue(1, 1, 255));
    QImage frame = panel::frame();
    for (int y = 0; y < 768; y += 3)
        for (int x = 0; x < 1366; x += 5)
            ASSERT_EQ(x >= 683 && y >= 384 ? 255 : 0, gray(frame, x, y)) << x << "," << y;
    ASSERT_EQ(0, grid.drawBlocks());
    EXPECT_EQ(grid.image()->convertToFormat(QImage::Format_RGB32), panel::frame().convertToFormat(QImage::Format_RGB32));
    ASSERT_EQ(0, grid.showOnPanel());
    EXPECT_EQ(grid.image()->convertToFormat(QImage::Format_RGB32), panel::frame().convertToFormat(QImage::Format_RGB32));
}

TEST(MaskGrid, BadSizesCellsAndDepthsAreRefused)
{
    panel::startPrinter(320, 200);
    MaskGrid grid(320, 200, 24);
    // Nothing before the grid has a size.
    EXPECT_EQ(-1, grid.setCellValue(0, 0, 10));
    EXPECT_EQ(-1, grid.drawBlocks());
    EXPECT_EQ(-1, grid.showOnPanel());
    EXPECT_EQ(-1, grid.saveMaskImage(false));
    EXPECT_EQ("", grid.cellsToText().toStdString());
    for (const auto& size : {std::pair<int, int>{0, 2}, {2, 0}, {-1, 2}, {2, -5}, {321, 1}, {1, 201}, {INT_MAX, 1}}) {
        EXPECT_EQ(-1, grid.setGridSize(size.first, size.second)) << size.first << " x " << size.second;
        EXPECT_EQ(nullptr, grid.image());
    }
    // The largest grid: one cell per pixel.
    ASSERT_EQ(0, grid.setGridSize(320, 200));
    EXPECT_EQ(320 * 200, grid.cells().size());
    // The image is black from the start.
    const QImage* image = grid.image();
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(0, image->pixel(319, 199) & 0xffffff);

    MaskGrid cells(320, 200, 24);
    ASSERT_EQ(0, cells.setGridSize(2, 2));
    const std::vector<float> before = levels(cells);
    for (const auto& cell : {std::pair<int, int>{2, 0}, {0, 2}, {-1, 0}, {0, -1}})
        EXPECT_EQ(-1, cells.setCellValue(cell.first, cell.second, 7));
    EXPECT_EQ(before, levels(cells));

    // A one-column grid has nothing to interpolate: the image goes out as it was.
    MaskGrid column(320, 200, 24);
    ASSERT_EQ(0, column.setGridSize(1, 4));
    ASSERT_EQ(0, column.setCellValue(0, 1, 90));
    const QImage lit = column.image()->copy();
    ASSERT_EQ(0, column.showOnPanel());
    EXPECT_EQ(lit, *column.image());

    // Other depths: 16 makes no grid; 8 makes one that cannot be shown or saved.
    MaskGrid sixteen(320, 200, 16);
    EXPECT_EQ(-1, sixteen.setGridSize(2, 2));
    MaskGrid eight(320, 200, 8);
    ASSERT_EQ(0, eight.setGridSize(2, 2));
    EXPECT_EQ(-1, eight.setCellValue(0, 0, 10));
    EXPECT_EQ(-1, eight.drawBlocks());
    EXPECT_EQ(-1, eight.showOnPanel());
    EXPECT_EQ(-1, eight.saveMaskImage(false));
    EXPECT_EQ("0 0 \n0 0 \n", eight.cellsToText().toStdString());

    // A grid of another size than the panel's is not shown.
    MaskGrid other(640, 200, 24);
    ASSERT_EQ(0, other.setGridSize(2, 2));
    EXPECT_EQ(-1, other.drawBlocks());
    EXPECT_EQ(-1, other.showOnPanel());
}

TEST(MaskGrid, SavedMaskIsAnEightBitGrayImageTheProjectionLoads)
{
    Printer* printer = panel::startPrinter(320, 200);
    MaskGrid grid(320, 200, 24);
    ASSERT_EQ(0, grid.setGridSize(2, 2));
    setLevels(grid, {{10, 250}, {90, 170}});
    ASSERT_EQ(0, grid.showOnPanel());

    // No serial number: the file is named after the word "serial".
    ASSERT_EQ(0, grid.saveMaskImage(false));
    const std::string path = "/data/etc/mask-serial.png";
    QImage saved(QString::fromStdString(rootPath(path)));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(8, saved.depth());
    EXPECT_TRUE(saved.isGrayscale());
    ASSERT_EQ(QSize(320, 200), saved.size());
    for (int y = 0; y < 200; y += 3)
        for (int x = 0; x < 320; x += 3)
            ASSERT_EQ(qRed(grid.image()->pixel(x, y)), qGray(saved.pixel(x, y))) << x << "," << y;
    EXPECT_EQ(0, printer->projectView()->setMaskImage(path));

    // To the USB disk: none mounted, then one.
    EXPECT_EQ(-1, grid.saveMaskImage(true));
    ConfigStore::instance()->m_serial = "SN42";
    testsupport::makeDirs(rootPath("/media/sda1"));
    SystemState::instance()->setUsbPath("/media/sda1");
    EXPECT_EQ(0, grid.saveMaskImage(true));
    EXPECT_EQ(saved, QImage(QString::fromStdString(rootPath("/media/sda1/mask-SN42.png"))));
    // A disk that went away: the file was not written, and the answer says so.
    SystemState::instance()->setUsbPath("/media/gone");
    EXPECT_EQ(-1, grid.saveMaskImage(true));
    EXPECT_FALSE(testsupport::fileExists(rootPath("/media/gone/mask-SN42.png")));
}
