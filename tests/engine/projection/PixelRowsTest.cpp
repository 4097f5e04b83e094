// The row kernels against plain per-pixel loops, over lengths that exercise
// the vector body and every tail.
#include "engine/projection/PixelRows.h"

#include <QColor>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

const ByteMask kMasks[] = {{{0xFF, 0xFF, 0xFF}}, {{0xFF, 0, 0}}, {{0, 0xFF, 0}}, {{0, 0, 0xFF}}};

} // namespace

TEST(PixelRowsTest, KernelsMatchThePerPixelDefinition)
{
    std::mt19937 random(11);
    for (int count = 0; count <= 70; ++count) {
        std::vector<uint8_t> gray(count);
        std::vector<uint32_t> rgb(count);
        for (int x = 0; x < count; ++x) {
            gray[x] = uint8_t(random());
            rgb[x] = qRgb(random() & 0xFF, random() & 0xFF, random() & 0xFF);
            if (x % 5 == 0)
                rgb[x] = qRgb(0, 0, 0); // black runs are skipped when clearing
        }
        for (const ByteMask& keep : kMasks) {
            // One guard byte past the row: nothing may be written there.
            std::vector<uint8_t> out(size_t(count) * 3 + 1, 0xEE), expected(out);
            expandGrayRow(gray.data(), out.data(), count, keep);
            for (int x = 0; x < count; ++x)
                for (int k = 0; k < 3; ++k)
                    expected[3 * x + k] = gray[x] & keep.byte[k];
            ASSERT_EQ(expected, out) << "expandGrayRow, " << count << " pixels";

            std::fill(out.begin(), out.end(), 0xEE);
            packRgb32Row(rgb.data(), out.data(), count, keep);
            for (int x = 0; x < count; ++x) {
                expected[3 * x] = uint8_t(qRed(rgb[x])) & keep.byte[0];
                expected[3 * x + 1] = uint8_t(qGreen(rgb[x])) & keep.byte[1];
                expected[3 * x + 2] = uint8_t(qBlue(rgb[x])) & keep.byte[2];
            }
            ASSERT_EQ(expected, out) << "packRgb32Row, " << count << " pixels";

        }
        std::vector<uint8_t> red(count + 1, 0xEE), expectedRed(red);
        for (int x = 0; x < count; ++x)
            expectedRed[x] = uint8_t(qRed(rgb[x]));
        redOfRgb32Row(rgb.data(), red.data(), count);
        ASSERT_EQ(expectedRed, red) << "redOfRgb32Row, " << count << " pixels";
        std::vector<uint32_t> cleared = rgb;
        std::fill(red.begin(), red.end(), 0xEE);
        redOfRgb32RowClearing(cleared.data(), red.data(), count);
        ASSERT_EQ(expectedRed, red) << "redOfRgb32RowClearing, " << count << " pixels";
        ASSERT_EQ(std::vector<uint32_t>(count, qRgb(0, 0, 0)), cleared) << count << " pixels";
    }
}
