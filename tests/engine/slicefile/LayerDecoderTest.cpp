// The layer decoder against hand-made pair streams and the writer's blocks.
#include "engine/slicefile/LayerDecoder.h"

#include "support/Sanitizers.h"
#include "writers/LayerImages.h"
#include "writers/QdsWriter.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

using namespace testwriters;

namespace {

std::string pairs(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

int decode(std::vector<uint8_t>& out, int pixels, const std::string& block)
{
    std::vector<uint8_t> scratch;
    out.assign(static_cast<size_t>(pixels) + 16, 0xEE); // guard bytes past the end
    return decodeLayerData(out.data(), pixels, scratch, block, static_cast<unsigned>(block.size()));
}

TEST(LayerDecoderTest, PairStreamMatrix)
{
    struct Row
    {
        const char* name;
        std::string stream;
        int pixels;
        int expected;
    };
    const Row rows[] = {
        {"exact fill", pairs({7, 2, 9, 0}), 4, 0},
        {"one run of 256", pairs({200, 255}), 256, 0},
        {"one pixel too many", pairs({7, 2, 9, 1}), 4, -ECHILD},
        {"one pixel too few", pairs({7, 2}), 4, -ESRCH},
        {"a pair after a full image", pairs({7, 3, 9, 0}), 4, -ECHILD},
        {"empty stream, empty image", "", 0, 0},
        {"empty stream", "", 4, -ESRCH},
        {"any pair into an empty image", pairs({1, 0}), 0, -ECHILD},
        {"odd final byte ignored", pairs({7, 3, 9}), 4, 0},
        {"merged runs of one value", pairs({5, 255, 5, 255, 5, 0}), 513, 0},
        {"merged runs one too many", pairs({5, 255, 5, 255, 5, 1}), 513, -ECHILD},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> out;
        EXPECT_EQ(row.expected, decode(out, row.pixels, compressPairs(row.stream))) << row.name;
        for (size_t i = row.pixels; i < out.size(); ++i)
            ASSERT_EQ(0xEE, out[i]) << row.name << ": wrote past the image at " << i;
    }

    std::vector<uint8_t> out;
    ASSERT_EQ(0, decode(out, 256, compressPairs(pairs({200, 255}))));
    EXPECT_EQ(std::vector<uint8_t>(256, 200), std::vector<uint8_t>(out.begin(), out.begin() + 256));
    ASSERT_EQ(0, decode(out, 4, compressPairs(pairs({7, 2, 9, 0}))));
    EXPECT_EQ((std::vector<uint8_t>{7, 7, 7, 9}), std::vector<uint8_t>(out.begin(), out.begin() + 4));
}

// Runs of up to 16 pixels are stored 16 bytes at a time where the plane has
// room for that: a run that ends at the plane's last pixel must not store
// past it, whatever the plane's size and the runs before it.
TEST(LayerDecoderTest, ShortRunsEndingAtThePlanesEndStayInside)
{
    std::vector<uint8_t> scratch;
    for (int pixels = 1; pixels <= 40; ++pixels) {
        for (int tail = 1; tail <= std::min(pixels, 18); ++tail) {
            for (const bool split : {false, true}) {
                // The head as runs of one value, the tail as one run of
                // another or as short runs of two values taking turns.
                std::string stream;
                std::vector<uint8_t> want(size_t(pixels - tail), 0x11);
                for (int left = pixels - tail; left > 0; left -= 256)
                    stream += pairs({0x11, std::min(left, 256) - 1});
                for (int left = tail, k = 0, length = split ? 1 : tail; left > 0; left -= length, ++k, ++length) {
                    const int value = k % 2 ? 0x33 : 0x22;
                    stream += pairs({value, std::min(left, length) - 1});
                    want.insert(want.end(), size_t(std::min(left, length)), uint8_t(value));
                }
                const std::string block = compressPairs(stream);
                const std::string name = std::to_string(pixels) + " pixels, a tail of " + std::to_string(tail) +
                                         (split ? " in short runs" : " in one run");

                if (testsupport::kAddressSanitizer) {
                    // Allocated exactly: the sanitizer sees any byte past it.
                    std::unique_ptr<uint8_t[]> plane(new uint8_t[size_t(pixels)]);
                    ASSERT_EQ(0, decodeLayerData(plane.get(), pixels, scratch, block, unsigned(block.size())))
                        << name;
                }
                std::vector<uint8_t> out;
                ASSERT_EQ(0, decode(out, pixels, block)) << name;
                EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin())) << name;
                for (size_t i = size_t(pixels); i < out.size(); ++i)
                    ASSERT_EQ(0xEE, out[i]) << name << ": wrote past the plane at " << i;
            }
        }
    }
}

TEST(LayerDecoderTest, BlockFaults)
{
    const std::string stream = pairs({7, 2, 9, 0});
    const std::string good = compressPairs(stream);
    std::vector<uint8_t> out;

    std::string longer = good; // states more bytes than the stream has
    putU32(longer, 0, 6);
    EXPECT_EQ(-ENOENT, decode(out, 4, longer));
    std::string shorter = good; // the stream has more than it states
    putU32(shorter, 0, 2);
    EXPECT_EQ(-1, decode(out, 4, shorter));
    std::string huge = good; // larger than any stream of 4 pixels
    putU32(huge, 0, 0xFFFFFFFF);
    EXPECT_EQ(-ECHILD, decode(out, 4, huge));

    EXPECT_EQ(-1, decode(out, 4, "\x04\0\0\0not zlib at all"));
    EXPECT_EQ(-1, decode(out, 4, good.substr(0, good.size() - 3))); // cut stream
    EXPECT_EQ(-1, decode(out, 4, std::string("\x04\0", 2)));         // shorter than its length field
    EXPECT_EQ(-1, decode(out, 4, ""));

    std::vector<uint8_t> scratch;
    out.assign(4, 0);
    // Only blockSize bytes count, and never more than the block holds.
    EXPECT_EQ(-1, decodeLayerData(out.data(), 4, scratch, good, static_cast<unsigned>(good.size() - 1)));
    EXPECT_EQ(-1, decodeLayerData(out.data(), 4, scratch, good, static_cast<unsigned>(good.size() + 1)));
    EXPECT_EQ(0, decodeLayerData(out.data(), 4, scratch, good + "trailing", static_cast<unsigned>(good.size())));
    EXPECT_EQ(-1, decodeLayerData(out.data(), -1, scratch, good, static_cast<unsigned>(good.size())));
}

TEST(LayerDecoderTest, ZlibFaultsComeBeforePixelFaults)
{
    std::string overfull = compressPairs(pairs({7, 9}));
    putU32(overfull, 0, 3);
    std::vector<uint8_t> out;
    EXPECT_EQ(-ENOENT, decode(out, 4, overfull)); // also one pixel too many: the length wins
}

TEST(LayerDecoderTest, WholeLayersRoundTrip)
{
    std::vector<uint8_t> scratch; // reused between layers, as the image thread does
    for (unsigned seed = 0; seed < 3; ++seed) {
        for (const auto& image : {shapesLayer(640, 400, seed), noiseLayer(333, 77, seed)}) {
            const std::string block = makeRasterBlock(image);
            std::vector<uint8_t> out(image.size());
            ASSERT_EQ(0, decodeLayerData(out.data(), static_cast<int>(out.size()), scratch, block,
                                         static_cast<unsigned>(block.size())));
            EXPECT_EQ(image, out);
        }
    }
    // Bounded, whatever the layer: a piece of pairs and the inflater's own memory.
    EXPECT_LE(scratch.size(), 320u * 1024);
}

TEST(LayerDecoderTest, BombIsStoppedAtTheStatedLength)
{
    // 64 MiB of pairs that deflate to almost nothing, stated as a small stream.
    std::string bomb(64u << 20, '\0');
    std::string block = compressPairs(bomb, 9);
    putU32(block, 0, 2000);
    std::vector<uint8_t> out(1000);
    std::vector<uint8_t> scratch;
    EXPECT_EQ(-1, decodeLayerData(out.data(), 1000, scratch, block, static_cast<unsigned>(block.size())));
}

} // namespace
