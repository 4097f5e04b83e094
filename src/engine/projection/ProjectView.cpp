#include "engine/projection/ProjectView.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Clock.h"
#include "base/threads/PThread.h"
#include "engine/projection/FrameBuffer.h"
#include "engine/projection/GraySteps.h"
#include "engine/projection/ProjectViewConfig.h"
#include "engine/slicefile/LayerDecoder.h"

#include <QPainter>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

using projectview::config;

namespace {

const char* const kReaderFailure = "00000005";
// A side longer than this is no panel of this machine: the configuration is damaged.
constexpr uint32_t kMaxSide = 32768;
// An unknown layer format waits this long, so that the print loop's image wait runs out first.
constexpr int kUnknownFormatWaitMs = 16000;

// Sleeps `ms` of real time, or until `cancelFd` (-1: none) turns readable.
void sleepUnlessCancelled(int ms, int cancelFd)
{
    if (cancelFd < 0) {
        PThread::msleep(ms);
        return;
    }
    const int64_t end = timespecToNs(kernelDeadlineAfterMs(ms));
    for (;;) {
        const int64_t left = (end - timespecToNs(kernelMonotonicNow())) / 1000000;
        pollfd cancel{cancelFd, POLLIN, 0};
        if (left <= 0 || poll(&cancel, 1, static_cast<int>(left)) > 0)
            return;
    }
}

float pixelsPerMm(uint32_t pixels, float mm)
{
    const float value = pixels / mm;
    return std::isfinite(value) && value > 0 ? value : 0.0f;
}

} // namespace

ProjectView::ProjectView()
{
    const PrinterConfig& c = config();
    if (c.XRes == 0 || c.YRes == 0 || c.XRes > kMaxSide || c.YRes > kMaxSide) {
        logger()->write(LogError, "Invalid machine resolution %u x %u: nothing can be shown", c.XRes, c.YRes);
    } else {
        m_width = static_cast<int>(c.XRes);
        m_height = static_cast<int>(c.YRes);
    }
    m_mirrorX = c.XMirror ? -1 : 1;
    m_mirrorY = c.YMirror ? -1 : 1;
    m_pixelsPerMmX = pixelsPerMm(c.XRes, c.Width);
    m_pixelsPerMmY = pixelsPerMm(c.YRes, c.Height);
    m_machineScaleX = c.XScale / 10000.0f;
    m_machineScaleY = c.YScale / 10000.0f;
    m_rotationDegrees = std::isfinite(c.Rotate) ? c.Rotate : 0.0f;

    // The colour render image and the work image wait until something needs
    // them: a normal panel printing decoded layers never does.
    if (m_width > 0) {
        const size_t planeBytes = size_t(m_width) * size_t(m_height) + correctionSlack(m_width);
        try {
            m_gray.assign(planeBytes, 0);
            m_grayOut.assign(planeBytes, 0);
            m_rowScratch.assign(size_t(m_width) * size_t(m_workers.maxSlots()), 0);
        } catch (const std::bad_alloc&) {
            std::vector<uint8_t>().swap(m_gray);
            std::vector<uint8_t>().swap(m_grayOut);
            std::vector<uint8_t>().swap(m_rowScratch);
            logger()->write(LogError, "ProjectView: no memory for the images of %d x %d pixels", m_width, m_height);
        }
    }
    logger()->write(LogInfo, "Enter ProjectView");
    setCalibrationFactor(1.0f, 1.0f);
    logger()->write(LogInfo, "Machine Adjust, X(%f), Y(%f)", m_machineScaleX, m_machineScaleY);
}

ProjectView::~ProjectView()
{
    logger()->write(LogInfo, "Leave ProjectView");
}

bool ProjectView::imagesReady() const
{
    return !m_gray.empty();
}

bool ProjectView::ensureRenderImage()
{
    if (!m_renderImage.isNull())
        return true;
    QImage image(m_width, m_height, QImage::Format_RGB32);
    if (image.isNull()) {
        logger()->write(LogError, "ProjectView: no memory for a colour image of %d x %d", m_width, m_height);
        return false;
    }
    image.fill(Qt::black);
    m_renderImage = image;
    m_renderContent = QRect();
    return true;
}

bool ProjectView::ensureWorkImage()
{
    if (!m_workImage.isNull())
        return true;
    // Gray at first; once the frame buffer is attached, a 24-bit image of its size.
    QImage image;
    if (m_fb) {
        image = QImage(int(m_fb->xres()), int(m_fb->yres()), QImage::Format_RGB888);
    } else if (m_width > 0) {
        image = QImage(m_width, m_height, QImage::Format_Indexed8);
        QVector<QRgb> grayTable(256);
        for (int v = 0; v < 256; ++v)
            grayTable[v] = qRgb(v, v, v);
        image.setColorTable(grayTable);
    }
    if (image.isNull()) {
        logger()->write(LogError, "ProjectView: no memory for the work image");
        return false;
    }
    image.fill(0);
    m_workImage = image;
    return true;
}

int ProjectView::unavailable() const
{
    // A damaged resolution is no shortage of memory.
    return m_width > 0 ? -EIO : -1;
}

ProjectView::Panel ProjectView::panel() const
{
    if (!m_fb || m_width <= 0)
        return Panel::Other;
    const uint64_t fbWidth = m_fb->xres();
    if (uint64_t(m_width) == fbWidth)
        return Panel::Normal;
    if (uint64_t(m_width) == 3 * fbWidth)
        return Panel::SubPixel;
    return Panel::Other;
}

int ProjectView::setFrameBuffer(FrameBuffer* fb)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fb)
        return 0;
    if (!fb || !fb->memory()) {
        logger()->write(LogError, "ProjectView: no frame buffer memory to attach");
        return -1;
    }
    const uint64_t row = uint64_t{fb->xres()} * 3;
    if (fb->bitsPerPixel() != 24 || fb->xres() == 0 || fb->yres() == 0 || fb->xres() > kMaxSide ||
        fb->yres() > kMaxSide || fb->lineLength() < row || uint64_t{fb->lineLength()} * fb->yres() > fb->size()) {
        logger()->write(LogError,
                   "ProjectView: frame buffer not supported: %u x %u, %u bits per pixel, %u bytes per line, %u bytes "
                   "mapped",
                   fb->xres(), fb->yres(), fb->bitsPerPixel(), fb->lineLength(), fb->size());
        return -1;
    }
    m_workImage = QImage(); // made again in the frame buffer's size when needed
    m_fb = fb;
    m_frameBits = fb->memory();
    m_frameStride = fb->lineLength();
    return 0;
}

int ProjectView::setCalibrationFactor(float x, float y)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calibrationX = x;
    m_calibrationY = y;
    logger()->write(LogInfo, "ProjectView::setCalibrationFactor, X(%f), Y(%f)", x, y);
    return 0;
}

void ProjectView::setRenderTimeLimit(int ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_renderLimitMs = ms;
}

int ProjectView::showSvgLayer(const std::string& svg, int cancelFd)
{
    if (svg == kReaderFailure)
        return -EIO;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopwatch.start();
    m_layerFailure.clear();
    if (svg.empty()) {
        logger()->write(LogError, "svg data is empty");
        m_layerFailure = "its SVG is empty";
        return -1;
    }
    if (!imagesReady())
        return unavailable();
    try {
        return renderSvgLayer(svg, cancelFd);
    } catch (const std::bad_alloc&) {
        m_renderer.stop();
        // A half-received layer may be anywhere in the render image.
        m_renderContent = m_renderImage.rect();
        logger()->write(LogError, "showSvgLayer: no memory to show a layer of %zu bytes", svg.size());
        m_layerFailure = "no memory to show it";
        return -EIO;
    }
}

void ProjectView::stopRenderer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_renderer.stop();
}

int ProjectView::renderSvgLayer(const std::string& svg, int cancelFd)
{
    layerrender::Geometry geometry;
    geometry.width = m_width;
    geometry.height = m_height;
    geometry.scaleX = m_mirrorX * m_pixelsPerMmX * m_calibrationX * m_machineScaleX;
    geometry.scaleY = m_mirrorY * m_pixelsPerMmY * m_calibrationY * m_machineScaleY;
    geometry.rotationDegrees = m_rotationDegrees;
    geometry.offsetUm = config().OutlineGrayOffset;
    layerrender::ReplyHead reply;
    std::string reason;
    const int rc = m_renderer.request(geometry, svg, m_renderLimitMs, cancelFd, reply, reason);
    if (rc != 0)
        return renderFailed(rc);
    if (reply.offsetMs >= 0)
        logger()->write(LogInfo, "dist: %d um; offsetSvg: %d ms", geometry.offsetUm, reply.offsetMs);
    switch (reply.outcome) {
    case layerrender::Outcome::Drawn:
        break;
    case layerrender::Outcome::Refused:
        logger()->write(LogError, "Svg layer refused: %s", reason.c_str());
        m_layerFailure = "its SVG was refused before drawing: " + reason;
        return -1;
    case layerrender::Outcome::NotSvg:
        logger()->write(LogError, "Can't Load Svg Bytes: %s", svg.c_str());
        m_layerFailure = "its SVG cannot be read (the layer renderer cannot load it)";
        return -1;
    case layerrender::Outcome::NoMemory:
        m_renderer.stop();
        logger()->write(LogError, "Svg layer needs more memory than the renderer's budget of %llu bytes",
                        static_cast<unsigned long long>(layerrender::memoryBudget(m_width, m_height)));
        m_layerFailure = "it needs more memory than the layer renderer's budget of " +
                         std::to_string(layerrender::memoryBudget(m_width, m_height)) + " bytes";
        return -EIO;
    }
    // Checked against the request by m_renderer: its pixels fit the panel.
    m_processImage = true;
    if (reply.plane == layerrender::Plane::Gray)
        return showGrayLayer();
    return showColourLayer(reply);
}

int ProjectView::renderFailed(int error)
{
    switch (error) {
    case -ETIMEDOUT:
        logger()->write(LogError, "Svg layer not drawn within %d ms: the renderer was stopped", m_renderLimitMs);
        m_layerFailure = "it was not drawn within " + std::to_string(m_renderLimitMs) + " ms";
        return error;
    case -ECANCELED:
        logger()->write(LogInfo, "Svg layer no longer wanted: the renderer was stopped");
        return error;
    case -ENOMEM:
        // The machine's memory, not the layer: a memory failure.
        logger()->write(LogError, "Svg layer not drawn: %s (budget %llu bytes)", m_renderer.why().c_str(),
                        static_cast<unsigned long long>(layerrender::memoryBudget(m_width, m_height)));
        m_layerFailure = m_renderer.why();
        return -EIO;
    default:
        // Not started, ended (a crash, an exit) or answered what cannot be
        // read: the layer could not be made.
        logger()->write(LogError, "Svg layer not drawn: %s", m_renderer.why().c_str());
        m_layerFailure = m_renderer.why();
        return -1;
    }
}

std::string ProjectView::layerFailure()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_layerFailure;
}

// Layers in grays arrive as a gray plane, beside the last layer, which a
// failed transfer leaves alone.
int ProjectView::showGrayLayer()
{
    const int rc = m_renderer.receive(m_grayOut.data(), size_t(m_width) * size_t(m_height));
    if (rc != 0)
        return renderFailed(rc);
    m_gray.swap(m_grayOut);
    m_layerOnGrayPlane = true;
    if (!m_fb) {
        logCheck("void ProjectView::sendImageData(QImage&)", __LINE__, LogError);
        return -1;
    }
    return panel() == Panel::Other ? 0 : sendGrayPlane();
}

// Only what the last layer painted needs clearing, and only what this one
// paints arrives: layers rarely cover the whole panel.
int ProjectView::showColourLayer(const layerrender::ReplyHead& reply)
{
    if (!ensureRenderImage()) {
        m_renderer.stop();
        return -EIO;
    }
    clearRenderImage(m_renderContent);
    const QRect content(reply.x, reply.y, reply.w, reply.h);
    m_renderContent = content;
    m_layerOnGrayPlane = false;
    for (int y = content.top(); y <= content.bottom(); ++y) {
        const int rc = m_renderer.receive(m_renderImage.scanLine(y) + size_t(content.x()) * 4, size_t(content.width()) * 4);
        if (rc != 0)
            return renderFailed(rc);
    }
    return sendImageData(m_renderImage, content, true);
}

int ProjectView::decodeImageShow(const std::string& data, ComprFormat format, int cancelFd)
{
    if (format != ComprFormat::ZlibRle) {
        logCheck("int ProjectView::decodeImageShow(const string&, ComprFormat)", __LINE__);
        sleepUnlessCancelled(kUnknownFormatWaitMs, cancelFd);
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const Panel kind = panel();
    if (kind == Panel::Other) {
        logger()->write(LogError, "decodeImageShow: no frame buffer of the machine's width %d", m_width);
        return -1;
    }
    if (!imagesReady())
        return unavailable();

    // Decoded beside the last layer, which a damaged block leaves alone.
    const int pixels = m_width * m_height;
    int result;
    try {
        result = decodeLayerData(m_grayOut.data(), pixels, m_scratch, data,
                                 static_cast<unsigned>(std::min<size_t>(data.size(), UINT_MAX)));
    } catch (const std::bad_alloc&) {
        logger()->write(LogError, "decodeImageShow: no memory for the decoder");
        return -EIO;
    }
    if (result != 0) {
        logger()->write(LogError, "%s failed(%i)", "decodeImageShow", result);
        return result;
    }
    m_gray.swap(m_grayOut);
    m_layerOnGrayPlane = true;
    if (kind == Panel::Normal) {
        const PrinterConfig& c = config();
        mirrorPlane(m_gray.data(), m_width, m_height, c.XMirror, c.YMirror);
    }
    m_processImage = true;
    return sendGrayPlane();
}

int ProjectView::transDataImage(const uint8_t* pixels, size_t size, size_t bytesPerLine)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!imagesReady())
        return unavailable();
    const size_t row = size_t(m_width) * 3;
    const size_t stride = bytesPerLine ? bytesPerLine : row;
    if (!pixels || stride < row || stride > INT_MAX || size < stride * (m_height - 1) + row) {
        logger()->write(LogError, "transDataImage: %zu bytes (%zu per line) do not hold an image of %d x %d", size,
                   stride, m_width, m_height);
        return -1;
    }
    const QImage image(pixels, m_width, m_height, static_cast<int>(stride), QImage::Format_RGB888);
    if (!keepLayerInRenderImage()) // a sub-pixel panel packs the buffer on the gray plane
        return unavailable();
    m_processImage = false;
    return sendImageData(image, image.rect());
}

int ProjectView::showGrayImage(int level)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!imagesReady())
        return unavailable();
    if (!ensureRenderImage())
        return unavailable();
    const int v = std::max(0, std::min(level, 255));
    m_renderImage.fill(qRgb(v, v, v));
    m_renderContent = m_renderImage.rect();
    m_layerOnGrayPlane = false;
    m_processImage = true;
    return sendImageData(m_renderImage, m_renderContent);
}

int ProjectView::drawImage(const QImage& image)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!imagesReady())
        return unavailable();
    if (!keepLayerInRenderImage() || !ensureRenderImage())
        return unavailable();
    {
        QPainter painter(&m_renderImage);
        painter.drawImage(0, 0, image);
    }
    m_renderContent = m_renderImage.rect();
    m_processImage = true;
    return sendImageData(m_renderImage, m_renderContent);
}

int ProjectView::showImage(const std::string& path, uint32_t flag)
{
    const QImage image(QString::fromStdString(rootPath(path)));
    if (image.isNull())
        logger()->write(LogError, "showImage: cannot load %s", path.c_str());
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!imagesReady())
        return unavailable();
    if (!keepLayerInRenderImage() || !ensureRenderImage())
        return unavailable();
    if (!image.isNull()) {
        QPainter painter(&m_renderImage);
        painter.drawImage(0, 0, image);
        m_renderContent = m_renderImage.rect();
    }
    m_processImage = flag != 0;
    return sendImageData(m_renderImage, m_renderContent);
}

int ProjectView::clearScreen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_fb) {
        logCheck("int ProjectView::clearScreen()", __LINE__);
        return -1;
    }
    m_fb->clear();
    return 0;
}

uint8_t* ProjectView::imageBits()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ensureWorkImage() ? m_workImage.bits() : nullptr;
}

size_t ProjectView::imageBytes() const
{
    return m_workImage.isNull() ? 0 : static_cast<size_t>(m_workImage.sizeInBytes());
}
