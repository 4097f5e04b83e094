#include "driver/FrameSnapshot.h"

#include <cstdint>

namespace {

// Gray forms: the level in byte 0, 1 or 2 with the other two zero, or in all three alike.
constexpr int kEqualBytes = 3;
constexpr int kForms = 4;

// Copies the level of every pixel into `gray`; false as soon as a row shows
// that the frame does not have this form.
bool copyGray(const uint8_t* memory, size_t stride, int form, QImage& gray)
{
    const int width = gray.width();
    const int c = form == kEqualBytes ? 0 : form;
    const int a = (c + 1) % 3, b = (c + 2) % 3;
    for (int y = 0; y < gray.height(); ++y) {
        const uint8_t* p = memory + size_t(y) * stride;
        uint8_t* out = gray.scanLine(y);
        unsigned other = 0;
        if (form == kEqualBytes) {
            for (int x = 0; x < width; ++x, p += 3) {
                out[x] = p[0];
                other |= unsigned(p[0] ^ p[1]) | unsigned(p[0] ^ p[2]);
            }
        } else {
            for (int x = 0; x < width; ++x, p += 3) {
                out[x] = p[c];
                other |= unsigned(p[a]) | p[b];
            }
        }
        if (other)
            return false;
    }
    return true;
}

} // namespace

QImage FrameSnapshot::take(sim::FrameBufferModel& frameBuffer)
{
    const sim::FrameBufferModel::Geometry& g = frameBuffer.geometry();
    if (g.bitsPerPixel != 24 || uint64_t{g.lineLength} * g.yres > g.memoryBytes || g.lineLength < uint64_t{g.xres} * 3)
        return QImage();
    QImage gray(static_cast<int>(g.xres), static_cast<int>(g.yres), QImage::Format_Grayscale8);
    if (gray.isNull())
        return gray;
    for (int tried = 0; tried < kForms; ++tried) {
        const int form = (m_form + tried) % kForms;
        if (copyGray(frameBuffer.data(), g.lineLength, form, gray)) {
            m_form = form;
            return gray;
        }
    }
    return frameBuffer.frame();
}
