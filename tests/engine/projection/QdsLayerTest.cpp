// Decoded layers through the projection steps, compared with references
// computed here from the steps' formulas: channel selection, mirrors,
// correction, mask, inversion, sub-pixel packing and smoothing.
#include "engine/projection/ProjectionFixture.h"

#include "base/platform/Platform.h"
#include "writers/CorrectionWriter.h"
#include "writers/LayerImages.h"

#include <QDir>
#include <QImage>

#include <cerrno>
#include <functional>
#include <mutex>

using namespace testsupport;
using testwriters::correctionFile;
using testwriters::identityCorrection;
using testwriters::shiftedCorrection;

namespace {

constexpr int kW = 5;
constexpr int kH = 4;

// Every pixel different, so that any misplaced pixel shows.
std::vector<uint8_t> distinctLayer(int w, int h)
{
    std::vector<uint8_t> layer(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            layer[size_t(y) * w + x] = static_cast<uint8_t>(10 + 20 * x + 50 * y);
    return layer;
}

std::vector<int> asInts(const std::vector<uint8_t>& bytes)
{
    return std::vector<int>(bytes.begin(), bytes.end());
}

// Bilinear sampling by the correction file's positions, in millionths; a
// source outside the image is black, neighbours past the edge repeat it.
std::vector<int> corrected(const std::vector<uint8_t>& src, int w, int h,
                           const std::function<void(int, int, uint32_t&, uint32_t&)>& position)
{
    std::vector<int> out(src.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t px, py;
            position(x, y, px, py);
            const uint32_t qx = px / 1000000, qy = py / 1000000;
            if (qx < 1 || qx > uint32_t(w) || qy < 1 || qy > uint32_t(h))
                continue;
            const int sx = int(qx) - 1, sy = int(qy) - 1;
            const uint64_t fx = px - qx * 1000000, fy = py - qy * 1000000;
            const uint64_t w11 = fx * fy / 1000000, w10 = fx - w11, w01 = fy - w11;
            const uint64_t w00 = 1000000 - w11 - w10 - w01;
            auto s = [&](int cx, int cy) { return uint64_t{src[size_t(std::min(cy, h - 1)) * w + std::min(cx, w - 1)]}; };
            const uint64_t v = w00 * s(sx, sy) + w10 * s(sx + 1, sy) + w01 * s(sx, sy + 1) + w11 * s(sx + 1, sy + 1);
            out[size_t(y) * w + x] = int(std::min<uint64_t>(v / 1000000, 255));
        }
    return out;
}

// The 3 x 3 smoothing of a sub-pixel panel; the border is black.
std::vector<int> smoothed(const std::vector<int>& src, int w, int h)
{
    std::vector<int> out(src.size(), 0);
    for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x) {
            auto s = [&](int dx, int dy) { return double(src[size_t(y + dy) * w + x + dx]); };
            const double v = 0.147761 * s(0, 0) + 0.118318 * (s(0, -1) + s(0, 1) + s(-1, 0) + s(1, 0)) +
                             0.0947416 * (s(-1, -1) + s(1, -1) + s(-1, 1) + s(1, 1));
            out[size_t(y) * w + x] = std::min(int(v), 255);
        }
    return out;
}

void writeBoardFile(const std::string& boardPath, const std::string& bytes)
{
    const std::string path = rootPath(boardPath);
    makeDirs(path.substr(0, path.rfind('/')));
    writeFile(path, bytes);
}

// A mask PNG of the given depth, pixel (x, y) = value(x, y).
void writeMask(const std::string& boardPath, int w, int h, QImage::Format format,
               const std::function<int(int, int)>& value)
{
    QImage mask(w, h, format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = value(x, y);
            mask.setPixel(x, y, format == QImage::Format_Grayscale8 ? qRgb(v, v, v) : qRgb(v, 0, 0));
        }
    const std::string path = rootPath(boardPath);
    makeDirs(path.substr(0, path.rfind('/')));
    ASSERT_TRUE(mask.save(QString::fromStdString(path), "PNG"));
}

// Machine time that passes at once: waits return immediately and are
// recorded. Installed for its lifetime.
class InstantClock : public Clock
{
public:
    timespec deadlineAfterMs(int64_t ms) const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waits.push_back(ms);
        return kernelMonotonicNow();
    }
    std::vector<int64_t> waits() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waits;
    }

private:
    mutable std::mutex m_mutex;
    mutable std::vector<int64_t> m_waits;
    ScopedPlatform m_installed{this}; // last: gone first
};

} // namespace

TEST_F(ProjectionTest, ChannelSelectionOnUniformLayer)
{
    normalMachine(kW, kH, kW, kH);
    const std::vector<uint8_t> layer(kW * kH, 200);
    const struct
    {
        int channel;
        Rgb expected;
    } cases[] = {{0, {200, 200, 200}}, {1, {200, 0, 0}}, {2, {0, 200, 0}}, {3, {0, 0, 200}}, {7, {200, 200, 200}}};
    for (const auto& c : cases) {
        config().ImageChannel = c.channel;
        ASSERT_EQ(0, showLayer(layer));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                ASSERT_EQ(c.expected, pixel(x, y)) << "channel " << c.channel << " at " << x << "," << y;
    }
    EXPECT_NE(std::string::npos, logText().find("changeImageChannel failed"));
}

TEST_F(ProjectionTest, MirrorsReadAtShowTime)
{
    normalMachine(kW, kH, kW, kH);
    const std::vector<uint8_t> layer = distinctLayer(kW, kH);
    for (int mirrors = 0; mirrors < 4; ++mirrors) {
        config().XMirror = mirrors & 1;
        config().YMirror = mirrors & 2;
        ASSERT_EQ(0, showLayer(layer));
        std::vector<int> expected(layer.size());
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                expected[size_t(y) * kW + x] = layer[size_t(config().YMirror ? kH - 1 - y : y) * kW +
                                                     (config().XMirror ? kW - 1 - x : x)];
        EXPECT_EQ(expected, grayFrame()) << "mirrors " << mirrors;
    }
}

TEST_F(ProjectionTest, CorrectionResamplesEveryPixelInsideTheTables)
{
    normalMachine(kW, kH, kW, kH);
    config().CorrectFlag = true;
    const std::vector<uint8_t> layer = distinctLayer(kW, kH);
    struct Case
    {
        const char* name;
        std::function<void(int, int, uint32_t&, uint32_t&)> position;
    };
    auto shift = [](int64_t dx, int64_t dy) {
        return [dx, dy](int x, int y, uint32_t& px, uint32_t& py) {
            px = uint32_t((x + 1) * 1000000LL + dx);
            py = uint32_t((y + 1) * 1000000LL + dy);
        };
    };
    const Case cases[] = {
        {"identity", shift(0, 0)},
        {"one pixel right", shift(1000000, 0)},
        {"half a pixel both ways", shift(500000, 500000)},
        {"a quarter up and left, partly outside", shift(-250000, -1250000)},
        {"scattered, some outside", [](int x, int y, uint32_t& px, uint32_t& py) {
             px = uint32_t((x * 7 + y * 3) % 7) * 1000000 + uint32_t(x * 131071 % 1000000);
             py = uint32_t((x + 2 * y) % 6) * 1000000 + uint32_t(y * 524287 % 1000000);
         }},
    };
    for (const Case& c : cases) {
        writeBoardFile("/data/etc/test.corbin", correctionFile(kW, kH, c.position));
        ASSERT_EQ(0, view->setDLPCorrectData("/data/etc/test.corbin")) << c.name;
        ASSERT_EQ(0, showLayer(layer));
        EXPECT_EQ(corrected(layer, kW, kH, c.position), grayFrame()) << c.name;
    }
    // The identity leaves the whole layer as it was, last row and column included.
    writeBoardFile("/data/etc/test.corbin", identityCorrection(kW, kH));
    ASSERT_EQ(0, view->setDLPCorrectData("/data/etc/test.corbin"));
    ASSERT_EQ(0, showLayer(layer));
    EXPECT_EQ(asInts(layer), grayFrame());
}

TEST_F(ProjectionTest, CorrectionFileFailuresKeepTheLastGoodTables)
{
    normalMachine(kW, kH, kW, kH);
    config().CorrectFlag = true;
    const std::vector<uint8_t> layer = distinctLayer(kW, kH);
    const std::string full = shiftedCorrection(kW, kH, 1000000, 0);
    writeBoardFile("/data/etc/good.corbin", full);
    writeBoardFile("/data/etc/short.corbin", full.substr(0, kW * kH * 4 - 1));
    writeBoardFile("/data/etc/shortY.corbin", full.substr(0, kW * kH * 8 - 4));

    EXPECT_EQ(-1, view->setDLPCorrectData(""));
    EXPECT_EQ(-3, view->setDLPCorrectData("/data/etc/missing.corbin"));
    // With no table loaded the step is skipped.
    ASSERT_EQ(0, showLayer(layer));
    EXPECT_EQ(asInts(layer), grayFrame());

    ASSERT_EQ(0, view->setDLPCorrectData("/data/etc/good.corbin"));
    EXPECT_EQ(-4, view->setDLPCorrectData("/data/etc/short.corbin"));
    EXPECT_NE(std::string::npos, logText().find("read 79 correctX"));
    EXPECT_EQ(-4, view->setDLPCorrectData("/data/etc/shortY.corbin"));
    EXPECT_NE(std::string::npos, logText().find("read 76 correctY"));
    // A file made for a larger panel holds more than the two tables of this
    // one; its start would pass for a warp that blacks out every frame.
    writeBoardFile("/data/etc/larger.corbin", identityCorrection(kW * 3, kH * 2));
    EXPECT_EQ(-4, view->setDLPCorrectData("/data/etc/larger.corbin"));
    EXPECT_NE(std::string::npos,
              logText().find("correct file /data/etc/larger.corbin is not for this panel: " +
                             std::to_string(kW * kH * 48) + " bytes, not the " + std::to_string(kW * kH * 8) +
                             " of two tables of " + std::to_string(kW) + " x " + std::to_string(kH)));
    writeBoardFile("/data/etc/long.corbin", full + std::string(1, '\0'));
    EXPECT_EQ(-4, view->setDLPCorrectData("/data/etc/long.corbin"));
    ASSERT_EQ(0, showLayer(layer));
    EXPECT_EQ(corrected(layer, kW, kH,
                        [](int x, int y, uint32_t& px, uint32_t& py) {
                            px = uint32_t(x + 2) * 1000000;
                            py = uint32_t(y + 1) * 1000000;
                        }),
              grayFrame());

    // A later file whose sources all lie outside blacks out everything: no
    // weights of the earlier file survive.
    writeBoardFile("/data/etc/outside.corbin", shiftedCorrection(kW, kH, 10000000, 0));
    ASSERT_EQ(0, view->setDLPCorrectData("/data/etc/outside.corbin"));
    ASSERT_EQ(0, showLayer(layer));
    EXPECT_EQ(std::vector<int>(kW * kH, 0), grayFrame());
}

// A whole model layer on a panel tall enough to be split across threads,
// with a warp that reaches past every edge, every step on and one channel
// kept: each pixel of the frame against the steps' formulas, one by one.
TEST_F(ProjectionTest, AllStepsOnAWholeLayerMatchTheFormulas)
{
    const int w = 331, h = 297; // odd sizes: bands and table pieces end mid-row
    normalMachine(w, h, w, h);
    config().ImageChannel = 2;
    config().CorrectFlag = true;
    config().MaskFlag = true;
    const std::vector<uint8_t> layer = testwriters::modelLayer(w, h, 4);
    const testwriters::CorrectionSource warp = [=](int x, int y, uint32_t& px, uint32_t& py) {
        // Stretched about the centre, plus a scattered fraction.
        px = uint32_t(std::max<int64_t>(0, int64_t((w / 2 + (x - w / 2) * 1.03 + 1) * 1e6) + x * 7919 % 300000));
        py = uint32_t(std::max<int64_t>(0, int64_t((h / 2 + (y - h / 2) * 0.98 + 1) * 1e6) + y * 104729 % 700000));
    };
    writeBoardFile("/data/etc/warp.corbin", correctionFile(w, h, warp));
    ASSERT_EQ(0, view->setDLPCorrectData("/data/etc/warp.corbin"));
    auto maskValue = [](int x, int y) { return 120 + (x * 3 + y * 5) % 136; };
    writeMask("/data/etc/mask-serial.png", w, h, QImage::Format_Grayscale8, maskValue);
    ASSERT_EQ(0, view->setMaskImage("/data/etc/mask-serial.png"));

    for (const bool reverse : {false, true}) {
        config().Reverse = reverse;
        ASSERT_EQ(0, showLayer(layer));
        const std::vector<int> resampled = corrected(layer, w, h, warp);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int v = (resampled[size_t(y) * w + x] * maskValue(x, y) + 254) / 255;
                if (reverse)
                    v = 255 - v;
                const Rgb p = pixel(x, y);
                ASSERT_EQ((Rgb{0, uint8_t(v), 0}), p) << x << "," << y << ", reverse " << reverse;
            }
    }
}

TEST_F(ProjectionTest, MaskThenReverse)
{
    normalMachine(kW, kH, kW, kH);
    const std::vector<uint8_t> layer = distinctLayer(kW, kH);
    auto maskValue = [](int x, int y) { return 255 - 37 * x - 11 * y; };
    writeMask("/data/etc/mask-serial.png", kW, kH, QImage::Format_Grayscale8, maskValue);
    ASSERT_EQ(0, view->setMaskImage("/data/etc/mask-serial.png"));

    config().MaskFlag = true;
    ASSERT_EQ(0, showLayer(layer));
    std::vector<int> masked(layer.size());
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            masked[size_t(y) * kW + x] = (layer[size_t(y) * kW + x] * maskValue(x, y) + 254) / 255;
    EXPECT_EQ(masked, grayFrame());

    config().Reverse = true;
    ASSERT_EQ(0, showLayer(layer));
    std::vector<int> reversed(masked.size());
    for (size_t i = 0; i < masked.size(); ++i)
        reversed[i] = 255 - masked[i];
    EXPECT_EQ(reversed, grayFrame());
}

TEST_F(ProjectionTest, ReverseAloneOnGrayLevels)
{
    normalMachine(kW, kH, kW, kH);
    config().Reverse = true;
    ASSERT_EQ(0, view->showGrayImage(60));
    EXPECT_EQ(std::vector<int>(kW * kH, 195), grayFrame());
    ASSERT_EQ(0, showLayer(distinctLayer(kW, kH)));
    std::vector<int> reversed = asInts(distinctLayer(kW, kH));
    for (int& v : reversed)
        v = 255 - v;
    EXPECT_EQ(reversed, grayFrame());
}

TEST_F(ProjectionTest, MaskRefusals)
{
    normalMachine(kW, kH, kW, kH);
    config().MaskFlag = true;
    const std::vector<uint8_t> layer = distinctLayer(kW, kH);
    writeMask("/data/etc/half.png", kW, kH, QImage::Format_Grayscale8, [](int, int) { return 128; });
    writeMask("/data/etc/rgb.png", kW, kH, QImage::Format_RGB32, [](int, int) { return 128; });
    writeMask("/data/etc/small.png", kW - 1, kH, QImage::Format_Grayscale8, [](int, int) { return 128; });

    EXPECT_EQ(-1, view->setMaskImage("/data/etc/none.png"));
    ASSERT_EQ(0, view->setMaskImage("/data/etc/half.png"));
    EXPECT_EQ(-1, view->setMaskImage("/data/etc/rgb.png"));
    EXPECT_NE(std::string::npos, logText().find("Invalid Mask Image: Not 8 Bit Depth"));
    // A refused mask leaves the mask all 255: the layer shows unchanged.
    ASSERT_EQ(0, showLayer(layer));
    EXPECT_EQ(asInts(layer), grayFrame());

    ASSERT_EQ(0, view->setMaskImage("/data/etc/half.png"));
    EXPECT_EQ(-1, view->setMaskImage("/data/etc/small.png"));
    EXPECT_NE(std::string::npos, logText().find("Invalid Mask Image: width height"));
    ASSERT_EQ(0, showLayer(layer));
    EXPECT_EQ(asInts(layer), grayFrame());
}

TEST_F(ProjectionTest, SubPixelPanelPacksThreePanelPixelsPerFramePixel)
{
    // 12 panel pixels across, 4 frame-buffer pixels.
    constexpr int kPanelW = 12;
    setPanel(kPanelW, kH, kPanelW, kH);
    attach({kPanelW / 3, kH, 24, 0, 0});
    std::vector<uint8_t> raw(size_t(kPanelW) * kH * 3, 0);
    for (int i = 0; i < kPanelW * kH; ++i)
        raw[size_t(i) * 3] = static_cast<uint8_t>(i * 5); // only the first byte of a panel pixel counts
    ASSERT_EQ(0, view->transDataImage(raw.data(), raw.size()));
    for (int y = 0; y < kH; ++y)
        for (int k = 0; k < kPanelW / 3; ++k) {
            const int p = y * kPanelW + 3 * k;
            EXPECT_EQ((Rgb{uint8_t((p + 2) * 5), uint8_t((p + 1) * 5), uint8_t(p * 5)}), pixel(k, y));
        }
    EXPECT_EQ(0, memcmp(view->imageBits(), fbModel->visibleBytes().data(), kPanelW * kH));

    // A processed layer is smoothed per panel pixel, then packed the same way.
    const std::vector<uint8_t> layer = distinctLayer(kPanelW, kH);
    ASSERT_EQ(0, showLayer(layer));
    const std::vector<int> expected = smoothed(asInts(layer), kPanelW, kH);
    for (int y = 1; y + 1 < kH; ++y)
        for (int x = 1; x + 1 < kPanelW; ++x)
            EXPECT_EQ(expected[size_t(y) * kPanelW + x], pixel(x / 3, y)[2 - x % 3]) << x << "," << y;
    EXPECT_EQ((Rgb{0, 0, 0}), pixel(0, 0)); // the border is black

    // An SVG layer takes the same way, drawn in gray or in colour: a lit
    // panel keeps its border black and smooths to 254 inside (the weights
    // add up to a little under one).
    for (const char* fill : {"white", "red"}) {
        ASSERT_EQ(0, view->showSvgLayer(std::string("<svg xmlns=\"http://www.w3.org/2000/svg\"><path d=\"M -6 -2 ") +
                                        "L 6 -2 L 6 2 L -6 2 Z\" fill=\"" + fill + "\"/></svg>"));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kPanelW; ++x) {
                const bool border = x == 0 || y == 0 || x == kPanelW - 1 || y == kH - 1;
                EXPECT_EQ(border ? 0 : 254, pixel(x / 3, y)[2 - x % 3]) << fill << " " << x << "," << y;
            }
    }
}

// Correction, mask and inversion on a sub-pixel panel work per panel pixel,
// around the smoothing: correction, mask, smoothing, inversion, then packing.
TEST_F(ProjectionTest, SubPixelPanelStepsPerPanelPixel)
{
    constexpr int kPanelW = 12;
    setPanel(kPanelW, kH, kPanelW, kH);
    attach({kPanelW / 3, kH, 24, 0, 0});
    const std::vector<uint8_t> layer = distinctLayer(kPanelW, kH);
    auto position = [](int x, int y, uint32_t& px, uint32_t& py) {
        px = uint32_t(x + 1) * 1000000 + 500000;
        py = uint32_t(y + 1) * 1000000 + 250000;
    };
    writeBoardFile("/data/etc/sub.corbin", correctionFile(kPanelW, kH, position));
    ASSERT_EQ(0, view->setDLPCorrectData("/data/etc/sub.corbin"));
    auto maskValue = [](int x, int y) { return 255 - 13 * x - 29 * y; };
    writeMask("/data/etc/mask-sub.png", kPanelW, kH, QImage::Format_Grayscale8, maskValue);
    ASSERT_EQ(0, view->setMaskImage("/data/etc/mask-sub.png"));

    for (int steps = 1; steps < 8; ++steps) {
        const bool correct = steps & 1, mask = steps & 2, reverse = steps & 4;
        config().CorrectFlag = correct;
        config().MaskFlag = mask;
        config().Reverse = reverse;
        std::vector<int> expected = correct ? corrected(layer, kPanelW, kH, position) : asInts(layer);
        if (mask)
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kPanelW; ++x) {
                    int& v = expected[size_t(y) * kPanelW + x];
                    v = (v * maskValue(x, y) + 254) / 255;
                }
        expected = smoothed(expected, kPanelW, kH);
        if (reverse)
            for (int& v : expected)
                v = 255 - v;

        ASSERT_EQ(0, showLayer(layer));
        std::vector<int> shown;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kPanelW; ++x)
                shown.push_back(pixel(x / 3, y)[2 - x % 3]);
        EXPECT_EQ(expected, shown) << "correction " << correct << ", mask " << mask << ", reverse " << reverse;
    }
}

TEST_F(ProjectionTest, FrameBufferGeometryRefusals)
{
    setPanel(kW, kH, kW, kH);
    struct Case
    {
        const char* name;
        sim::FrameBufferModel::Geometry geometry;
    };
    const Case refused[] = {
        {"16 bits per pixel", {kW, kH, 16, 0, 0}},
        {"32 bits per pixel", {kW, kH, 32, 0, 0}},
        {"line shorter than a row", {kW, kH, 24, kW * 3 - 1, 0}},
    };
    for (const Case& c : refused) {
        auto model = std::make_shared<sim::FrameBufferModel>(c.geometry);
        board.attach(sim::FrameBufferModel::kPath, model);
        FrameBuffer frame(sim::FrameBufferModel::kPath);
        ProjectView refusing;
        EXPECT_EQ(-1, refusing.setFrameBuffer(&frame)) << c.name;
        EXPECT_EQ(-1, refusing.showGrayImage(9)) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(model->geometry().memoryBytes, 0), model->memory()) << c.name;
    }

    // Padded rows (1366 pixels make 4098 bytes; the driver pads to 4104) are
    // written at the driver's line length and nothing lands in the padding.
    setPanel(1366, 3, 1366, 3);
    attach({1366, 3, 24, 4104, 0});
    ASSERT_EQ(0, view->showGrayImage(77));
    const std::vector<uint8_t> memory = fbModel->memory();
    for (size_t i = 0; i < memory.size(); ++i)
        ASSERT_EQ(i % 4104 < 4098 ? 77 : 0, memory[i]) << "byte " << i;
}

TEST_F(ProjectionTest, RawImagesCarryTheirSize)
{
    normalMachine(kW, kH, kW, kH);
    std::vector<uint8_t> raw(size_t(kW) * kH * 3);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = uint8_t(i);
    EXPECT_EQ(-1, view->transDataImage(raw.data(), raw.size() - 1));
    EXPECT_EQ(-1, view->transDataImage(nullptr, raw.size()));
    EXPECT_EQ(std::vector<uint8_t>(raw.size(), 0), fbModel->visibleBytes());
    // Shown untouched, whatever the channel and correction settings say.
    config().ImageChannel = 1;
    config().Reverse = true;
    ASSERT_EQ(0, view->transDataImage(raw.data(), raw.size()));
    EXPECT_EQ(raw, fbModel->visibleBytes());

    // Rows with padding between them, as a toolkit image has.
    const size_t stride = kW * 3 + 1;
    std::vector<uint8_t> padded(stride * kH, 0xEE);
    for (int y = 0; y < kH; ++y)
        memcpy(&padded[y * stride], &raw[size_t(y) * kW * 3], kW * 3);
    fb->clear();
    EXPECT_EQ(-1, view->transDataImage(padded.data(), stride * (kH - 1) + kW * 3 - 1, stride));
    ASSERT_EQ(0, view->transDataImage(padded.data(), stride * (kH - 1) + kW * 3, stride));
    EXPECT_EQ(raw, fbModel->visibleBytes());
}

TEST_F(ProjectionTest, LayerFailuresAndTheirCodes)
{
    normalMachine(kW, kH, kW, kH);
    InstantClock clock;
    const std::string block = testwriters::makeRasterBlock(std::vector<uint8_t>(kW * kH, 9));
    EXPECT_EQ(-1, view->decodeImageShow(block, static_cast<ComprFormat>(1)));
    EXPECT_EQ(std::vector<int64_t>{16000}, clock.waits());

    // Damaged blocks give the decoder's codes, never the "memory" code -EIO.
    for (const std::string& bad : {std::string(), block.substr(0, block.size() - 3),
                                   testwriters::makeRasterBlock(std::vector<uint8_t>(kW * kH - 1, 9))}) {
        const int result = view->decodeImageShow(bad, ComprFormat::ZlibRle);
        EXPECT_NE(0, result);
        EXPECT_NE(-EIO, result);
    }
    EXPECT_EQ(std::vector<uint8_t>(kW * kH * 3, 0), fbModel->visibleBytes());

    // A machine width that is neither the frame buffer's nor three times it.
    view.reset();
    setPanel(kW + 1, kH, kW + 1, kH);
    view = std::make_unique<ProjectView>();
    ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
    EXPECT_EQ(-1, showLayer(std::vector<uint8_t>((kW + 1) * kH, 9)));
    EXPECT_EQ(0, view->showGrayImage(9));
    EXPECT_EQ(std::vector<uint8_t>(kW * kH * 3, 0), fbModel->visibleBytes());

    // A damaged resolution shows nothing, and is no memory failure either.
    view.reset();
    config().XRes = 0;
    view = std::make_unique<ProjectView>();
    ASSERT_EQ(0, view->setFrameBuffer(fb.get()));
    EXPECT_EQ(-1, view->showGrayImage(9));
    EXPECT_EQ(-1, view->showSvgLayer("<svg xmlns=\"http://www.w3.org/2000/svg\"/>"));
    EXPECT_EQ(std::vector<uint8_t>(kW * kH * 3, 0), fbModel->visibleBytes());
}

TEST_F(ProjectionTest, DebugSaveOnlyOntoAUsbDisk)
{
    normalMachine(kW, kH, kW, kH);
    makeDirs(rootPath("/printTest"));
    ASSERT_EQ(0, view->showGrayImage(50));
    EXPECT_TRUE(QDir(QString::fromStdString(rootPath("/printTest"))).entryList(QDir::Files).isEmpty())
        << "saved into the root file system";

    // The copies are numbered for the whole process: whichever number this one got.
    QDir(QString::fromStdString(rootPath("/media/sda1"))).removeRecursively();
    makeDirs(rootPath("/media/sda1/printTest"));
    SystemState::instance()->setUsbPath("/media/sda1");
    ASSERT_EQ(0, view->showGrayImage(60));
    const QDir folder(QString::fromStdString(rootPath("/media/sda1/printTest")));
    const QStringList copies = folder.entryList({"*.png"}, QDir::Files);
    ASSERT_EQ(1, copies.size());
    const QImage saved(folder.filePath(copies[0]));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(QImage(fbModel->frame()).convertToFormat(QImage::Format_RGB32), saved.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(qRgb(60, 60, 60), saved.pixel(kW - 1, kH - 1));
}
