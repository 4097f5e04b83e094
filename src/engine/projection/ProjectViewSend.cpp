// The way of a shown image to the frame buffer: the correction steps on the
// gray plane, channel selection, sub-pixel packing and the debug copy.
#include "engine/projection/ProjectView.h"

#include "base/config/SystemState.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "engine/projection/FrameBuffer.h"
#include "engine/projection/FramePixels.h"
#include "engine/projection/GraySteps.h"
#include "engine/projection/ProjectViewConfig.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>

using projectview::config;
using projectview::kSourcePath;

namespace {

constexpr int kCorrectedPiecePixels = 1 << 17;
constexpr int kPlainPiecePixels = 1 << 20;

// Debug copies of shown images on the USB disk, numbered per panel kind for the whole process.
std::atomic<int> g_normalSaves{0};
std::atomic<int> g_subPixelSaves{0};

} // namespace

int ProjectView::imageChannel() const
{
    const int channel = config().ImageChannel;
    if (channel == 0)
        return kAllChannels;
    if (channel < 1 || channel > 3) {
        logger()->write(LogWarn, "%s failed", "changeImageChannel");
        return kAllChannels;
    }
    return channel;
}

void ProjectView::toGrayPlane(const QImage& image, const QRect& content, bool consumeLayer)
{
    if (consumeLayer) {
        moveGrayFromRgb(m_renderImage, content, m_gray.data());
        m_renderContent = QRect();
        m_layerOnGrayPlane = true;
    } else {
        grayFromRgb(image, content, m_gray.data());
    }
}

bool ProjectView::keepLayerInRenderImage()
{
    if (!m_layerOnGrayPlane)
        return true;
    if (!ensureRenderImage())
        return false;
    for (int y = 0; y < m_height; ++y) {
        const uint8_t* in = m_gray.data() + size_t(m_width) * y;
        QRgb* out = reinterpret_cast<QRgb*>(m_renderImage.scanLine(y));
        for (int x = 0; x < m_width; ++x)
            out[x] = qRgb(in[x], in[x], in[x]);
    }
    m_renderContent = m_renderImage.rect();
    m_layerOnGrayPlane = false;
    return true;
}

void ProjectView::clearRenderImage(const QRect& area)
{
    const QRect clear = area & m_renderImage.rect();
    for (int y = clear.top(); y <= clear.bottom(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(m_renderImage.scanLine(y)) + clear.left(), clear.width(), qRgb(0, 0, 0));
}

int ProjectView::sendImageData(const QImage& image, const QRect& content, bool consumeLayer)
{
    if (!m_fb) {
        logCheck("void ProjectView::sendImageData(QImage&)", __LINE__, LogError);
        return -1;
    }
    const Panel kind = panel();
    if (kind == Panel::Other)
        return 0;
    if (kind == Panel::SubPixel) {
        if (!ensureWorkImage())
            return unavailable();
        m_stopwatch.start();
        toGrayPlane(image, content, consumeLayer);
        logger()->write(LogInfo, "Reconstruction Image Time: %d ms, Data Count: %d",
                   static_cast<int>(m_stopwatch.elapsedMs()), static_cast<int>(m_workImage.sizeInBytes()));
        return sendGrayPlane();
    }

    // Each correction step leaves a gray image: from the first of them on,
    // the image is its gray plane.
    const PrinterConfig& c = config();
    if (m_processImage && ((c.CorrectFlag && m_correction.isLoaded()) || c.MaskFlag || c.Reverse)) {
        toGrayPlane(image, content, consumeLayer);
        return sendGrayPlane();
    }
    int channel = kAllChannels;
    if (!m_processImage) {
        logger()->write(LogInfo, "%s disabled", "processImage");
    } else {
        if (c.CorrectFlag)
            correctionStep(); // no table loaded: logs and leaves the image
        channel = imageChannel();
    }
    m_stopwatch.start();
    // A layer stays in the render image, as the background of what is drawn next.
    writeRgbImage(image, content, FrameTarget{m_frameBits, m_frameStride, int(m_fb->xres()), int(m_fb->yres())},
                  channel);
    logger()->write(LogInfo, "Draw Image Time: %d ms, Data Count: %d", static_cast<int>(m_stopwatch.elapsedMs()),
               m_width * m_height * 3);
    saveShownImage(false);
    return 0;
}

int ProjectView::sendGrayPlane()
{
    const bool subPixel = panel() == Panel::SubPixel;
    if (m_processImage && !subPixel)
        return sendProcessedRows();
    if (subPixel && !ensureWorkImage())
        return unavailable();
    const uint8_t* plane = m_gray.data();
    if (m_processImage)
        plane = correctGrayPlane(subPixel);
    else
        logger()->write(LogInfo, "%s disabled", "processImage");

    const int fbWidth = static_cast<int>(m_fb->xres());
    const int fbHeight = static_cast<int>(m_fb->yres());
    m_stopwatch.start();
    if (subPixel) {
        // The packed image stays in the work image, where debug commands read it.
        packSubPixels(plane, m_width, m_height,
                      FrameTarget{m_workImage.bits(), size_t(m_workImage.bytesPerLine()), fbWidth, fbHeight});
        const int rows = std::min(m_height, fbHeight);
        for (int y = 0; y < rows; ++y)
            memcpy(m_frameBits + m_frameStride * y, m_workImage.constScanLine(y), size_t(fbWidth) * 3);
    } else {
        const int channel = m_processImage ? imageChannel() : kAllChannels;
        writeGrayPlane(plane, m_width, m_height, FrameTarget{m_frameBits, m_frameStride, fbWidth, fbHeight},
                       channel);
    }
    logger()->write(LogInfo, "Draw Image Time: %d ms, Data Count: %d", static_cast<int>(m_stopwatch.elapsedMs()),
               subPixel ? static_cast<int>(m_workImage.sizeInBytes()) : m_width * m_height * 3);
    saveShownImage(subPixel);
    return 0;
}

// On a normal panel every step works on one pixel (the correction reads the
// gray plane around it), so they all run row by row on the way into the
// frame: the plane is read once and the frame written once.
int ProjectView::sendProcessedRows()
{
    const PrinterConfig& c = config();
    const int format = QImage::Format_RGB888;
    const CorrectionTable* table = nullptr;
    if (c.CorrectFlag) {
        logger()->write(LogInfo, "%s %s start", kSourcePath, "correctImage");
        if (m_correction.isLoaded())
            table = &m_correction;
        else
            logCheck("void ProjectView::correctImage(QImage&)", __LINE__);
    }
    const uint8_t* const mask = c.MaskFlag && !m_mask.empty() ? m_mask.data() : nullptr;
    const bool reverse = c.Reverse;
    const int channel = imageChannel();
    const uint8_t* const plane = m_gray.data();
    const size_t width = size_t(m_width);
    const CorrectionRows rows = table ? table->rows() : CorrectionRows();

    m_stopwatch.start();
    const auto row = [&](int y, uint8_t* scratch) {
        const uint8_t* const maskRow = mask ? mask + width * size_t(y) : nullptr;
        if (table) {
            // The mask on the way, while the pixels are at hand.
            correctRows(rows, plane, scratch, y, y + 1, maskRow);
        } else if (mask || reverse) {
            memcpy(scratch, plane + width * size_t(y), width);
            if (mask)
                applyMask(scratch, maskRow, width);
        } else {
            return plane + width * size_t(y);
        }
        if (reverse)
            reversePlane(scratch, width);
        return const_cast<const uint8_t*>(scratch);
    };
    writeGrayRows(m_width, m_height, FrameTarget{m_frameBits, m_frameStride, int(m_fb->xres()), int(m_fb->yres())},
                  channel, RowSplit{m_workers, minRowsPerPiece(table != nullptr), m_rowScratch.data()},
                  std::ref(row)); // by reference: nothing allocated per frame
    // The steps share one pass: each reports the time of the whole pass.
    const int ms = static_cast<int>(m_stopwatch.elapsedMs());
    if (table)
        logger()->write(LogInfo, "%s %s end", kSourcePath, "correctImage");
    if (c.CorrectFlag)
        logger()->write(LogInfo, "Correction Image Time: %i ms", ms);
    if (c.MaskFlag)
        logger()->write(LogInfo, "Add Mask Image Time: %i ms, printImg format[%d] Xres[%d]", ms, format, m_width);
    if (reverse)
        logger()->write(LogInfo, "Reverse Image Time: %i ms", ms);
    logger()->write(LogInfo, "Draw Image Time: %d ms, Data Count: %d", ms, m_width * m_height * 3);
    saveShownImage(false);
    return 0;
}

int ProjectView::minRowsPerPiece(bool correcting) const
{
    // A piece is worth a thread from this many pixels on (about a tenth of a
    // millisecond of work); below, waking one costs more than it saves.
    const int pixels = correcting ? kCorrectedPiecePixels : kPlainPiecePixels;
    return std::max(1, pixels / std::max(1, m_width));
}

bool ProjectView::correctionStep()
{
    m_stopwatch.start();
    logger()->write(LogInfo, "%s %s start", kSourcePath, "correctImage");
    const bool loaded = m_correction.isLoaded();
    if (!loaded) {
        logCheck("void ProjectView::correctImage(QImage&)", __LINE__);
    } else {
        const CorrectionRows rows = m_correction.rows();
        const uint8_t* const in = m_gray.data();
        uint8_t* const out = m_grayOut.data();
        const auto piece = [&](int first, int end, int) {
            correctRows(rows, in, out + size_t(m_width) * size_t(first), first, end);
        };
        m_workers.run(m_height, minRowsPerPiece(true), std::ref(piece));
        logger()->write(LogInfo, "%s %s end", kSourcePath, "correctImage");
    }
    logger()->write(LogInfo, "Correction Image Time: %i ms", static_cast<int>(m_stopwatch.elapsedMs()));
    return loaded;
}

const uint8_t* ProjectView::correctGrayPlane(bool subPixel)
{
    const PrinterConfig& c = config();
    const size_t pixels = size_t(m_width) * size_t(m_height);
    const int format = QImage::Format_RGB888;
    // The steps write into the second plane: the first keeps the layer as it
    // was drawn, the background of images drawn over it later.
    uint8_t* const out = m_grayOut.data();
    const uint8_t* result = m_gray.data();
    auto inPlace = [&] {
        if (result != out)
            memcpy(out, result, pixels);
        result = out;
        return out;
    };
    if (c.CorrectFlag && correctionStep())
        result = out;
    if (c.MaskFlag) {
        m_stopwatch.start();
        if (!m_mask.empty())
            applyMask(inPlace(), m_mask.data(), pixels);
        logger()->write(LogInfo, "Add Mask Image Time: %i ms, printImg format[%d] Xres[%d]",
                   static_cast<int>(m_stopwatch.elapsedMs()), format, m_width);
    }
    if (subPixel) {
        m_stopwatch.start();
        smoothPlane(result, out, m_width, m_height);
        result = out;
        logger()->write(LogInfo, "SmoothImage Image Time: %i ms, printImg format[%d] Xres[%d]",
                   static_cast<int>(m_stopwatch.elapsedMs()), format, m_width);
    }
    if (c.Reverse) {
        m_stopwatch.start();
        reversePlane(inPlace(), pixels);
        logger()->write(LogInfo, "Reverse Image Time: %i ms", static_cast<int>(m_stopwatch.elapsedMs()));
    }
    return result;
}

void ProjectView::saveShownImage(bool subPixel)
{
    const int number = (subPixel ? g_subPixelSaves : g_normalSaves).fetch_add(1);
    // Without a USB disk the path would name the root file system.
    const QString usbPath = SystemState::instance()->usbPath();
    if (usbPath.isEmpty())
        return;
    const std::string path = rootPath(QString("%1/printTest/%2.png").arg(usbPath).arg(number).toUtf8().toStdString());
    const int rows = std::min(m_height, static_cast<int>(m_fb->yres()));
    const QImage shown = subPixel ? m_workImage
                                  : QImage(m_frameBits, static_cast<int>(m_fb->xres()), rows,
                                           static_cast<int>(m_frameStride), QImage::Format_RGB888);
    // A disk without the folder simply gets no copy.
    shown.save(QString::fromStdString(path), "PNG");
}
