#include "engine/ProjectView.h"

#include "base/ConfigStore.h"
#include "base/PThread.h"
#include "base/RootPath.h"
#include "base/SystemState.h"
#include "engine/EngineLog.h"
#include "engine/FrameBuffer.h"
#include "engine/FramePixels.h"
#include "engine/GraySteps.h"
#include "engine/LayerDecoder.h"
#include "engine/SvgOffset.h"

#include <QPainter>
#include <QSvgRenderer>
#include <QTransform>

#include <endian.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

namespace {

const char* const kSourcePath = "src/engine/ProjectView";
const char* const kReaderFailure = "00000005";
// A side longer than this is no panel of this machine: the configuration is damaged.
constexpr uint32_t kMaxSide = 32768;
// An unknown layer format waits this long, so that the print loop's image wait runs out first.
constexpr int kUnknownFormatWaitMs = 16000;

const PrinterConfig& config()
{
    return ConfigStore::instance()->m_printerConfig;
}

float pixelsPerMm(uint32_t pixels, float mm)
{
    const float value = pixels / mm;
    return std::isfinite(value) && value > 0 ? value : 0.0f;
}

// Debug copies of shown images on the USB disk, numbered per panel kind for the whole process.
std::atomic<int> g_normalSaves{0};
std::atomic<int> g_subPixelSaves{0};

} // namespace

ProjectView::ProjectView()
{
    const PrinterConfig& c = config();
    if (c.XRes == 0 || c.YRes == 0 || c.XRes > kMaxSide || c.YRes > kMaxSide) {
        ENGINE_LOG(LogError, "Invalid machine resolution %u x %u: nothing can be shown", c.XRes, c.YRes);
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

    if (m_width > 0) {
        const size_t pixels = size_t(m_width) * size_t(m_height);
        try {
            m_renderImage = QImage(m_width, m_height, QImage::Format_RGB32);
            m_workImage = QImage(m_width, m_height, QImage::Format_Indexed8);
            if (m_renderImage.isNull() || m_workImage.isNull())
                throw std::bad_alloc();
            m_renderImage.fill(Qt::black);
            QVector<QRgb> grayTable(256);
            for (int v = 0; v < 256; ++v)
                grayTable[v] = qRgb(v, v, v);
            m_workImage.setColorTable(grayTable);
            m_workImage.fill(0);
            const size_t planeBytes = pixels + size_t(m_width) + 1;
            m_gray.assign(planeBytes, 0);
            m_grayOut.assign(planeBytes, 0);
            m_mask.assign(pixels, 255);
        } catch (const std::bad_alloc&) {
            m_renderImage = QImage();
            m_workImage = QImage();
            std::vector<uint8_t>().swap(m_gray);
            std::vector<uint8_t>().swap(m_grayOut);
            std::vector<uint8_t>().swap(m_mask);
            ENGINE_LOG(LogError, "ProjectView: no memory for the images of %d x %d pixels", m_width, m_height);
        }
    }
    ENGINE_LOG(LogInfo, "Enter ProjectView");
    setCalibrationFactor(1.0f, 1.0f);
    ENGINE_LOG(LogInfo, "Machine Adjust, X(%f), Y(%f)", m_machineScaleX, m_machineScaleY);
}

ProjectView::~ProjectView()
{
    ENGINE_LOG(LogInfo, "Leave ProjectView");
}

bool ProjectView::imagesReady() const
{
    return !m_renderImage.isNull() && !m_gray.empty();
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
        ENGINE_LOG(LogError, "ProjectView: no frame buffer memory to attach");
        return -1;
    }
    const uint64_t row = uint64_t{fb->xres()} * 3;
    if (fb->bitsPerPixel() != 24 || fb->xres() == 0 || fb->yres() == 0 || fb->xres() > kMaxSide ||
        fb->yres() > kMaxSide || fb->lineLength() < row || uint64_t{fb->lineLength()} * fb->yres() > fb->size()) {
        ENGINE_LOG(LogError,
                   "ProjectView: frame buffer not supported: %u x %u, %u bits per pixel, %u bytes per line, %u bytes "
                   "mapped",
                   fb->xres(), fb->yres(), fb->bitsPerPixel(), fb->lineLength(), fb->size());
        return -1;
    }
    QImage work(static_cast<int>(fb->xres()), static_cast<int>(fb->yres()), QImage::Format_RGB888);
    if (work.isNull()) {
        ENGINE_LOG(LogError, "ProjectView: no memory for a frame of %u x %u", fb->xres(), fb->yres());
        return -1;
    }
    work.fill(Qt::black);
    m_workImage = work;
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
    ENGINE_LOG(LogInfo, "ProjectView::setCalibrationFactor, X(%f), Y(%f)", x, y);
    return 0;
}

int ProjectView::setDLPCorrectData(std::string path)
{
    ENGINE_LOG(LogInfo, "%s %s", kSourcePath, "setDLPCorrectData");
    if (path.empty())
        return -1;
    ENGINE_LOG(LogInfo, "load correct File %s", path.c_str());
    const char* const signature = "int ProjectView::setDLPCorrectData(std::string)";

    const size_t count = size_t(m_width) * size_t(m_height);
    std::vector<uint32_t> rawX, rawY;
    try {
        if (count == 0)
            throw std::bad_alloc();
        rawX.assign(count, 0);
        rawY.assign(count, 0);
    } catch (const std::bad_alloc&) {
        ENGINE_LOG(LogInfo, "%s: H %d", signature, __LINE__);
        return -ENOENT;
    }

    std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(rootPath(path).c_str(), "rbe"), fclose);
    if (!file) {
        ENGINE_LOG(LogInfo, "open correct file failed, %s", path.c_str());
        return -3;
    }
    const size_t bytes = count * sizeof(uint32_t);
    size_t got = fread(rawX.data(), 1, bytes, file.get());
    if (got < bytes) {
        ENGINE_LOG(LogError, "read %i correctX", static_cast<int>(got));
        return -4;
    }
    got = fread(rawY.data(), 1, bytes, file.get());
    if (got < bytes) {
        ENGINE_LOG(LogError, "read %i correctY", static_cast<int>(got));
        return -4;
    }
    file.reset();
    for (size_t i = 0; i < count; ++i) {
        rawX[i] = le32toh(rawX[i]);
        rawY[i] = le32toh(rawY[i]);
    }

    std::lock_guard<std::mutex> lock(m_mutex);
    const int result = m_correction.build(rawX.data(), rawY.data(), m_width, m_height);
    if (result != 0) {
        ENGINE_LOG(LogInfo, "%s: H %d", signature, __LINE__);
        return result;
    }
    ENGINE_LOG(LogInfo, "%s successed", "setDLPCorrectData");
    return 0;
}

int ProjectView::setMaskImage(const std::string& path)
{
    QImage image;
    if (!image.load(QString::fromStdString(rootPath(path)), "PNG")) {
        ENGINE_LOG(LogError, "Mask Image Load Fail: %s", path.c_str());
        return -1;
    }
    if (image.format() == QImage::Format_Indexed8)
        image = image.convertToFormat(QImage::Format_Grayscale8);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (image.depth() != 8) {
        ENGINE_LOG(LogError, "Invalid Mask Image: Not 8 Bit Depth (%i)", image.depth());
        std::fill(m_mask.begin(), m_mask.end(), 255);
        return -1;
    }
    if (image.width() != m_width || image.height() != m_height || m_mask.empty()) {
        ENGINE_LOG(LogError, "Invalid Mask Image: width height");
        std::fill(m_mask.begin(), m_mask.end(), 255);
        return -1;
    }
    // Image rows are padded; the mask's are not.
    for (int y = 0; y < m_height; ++y)
        memcpy(m_mask.data() + size_t(m_width) * y, image.constScanLine(y), size_t(m_width));
    ENGINE_LOG(LogInfo, "Load Mask Image(%s)", path.c_str());
    return 0;
}

int ProjectView::showSvgLayer(const std::string& svg)
{
    if (svg == kReaderFailure)
        return -EIO;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopwatch.start();
    if (svg.empty()) {
        ENGINE_LOG(LogError, "svg data is empty");
        return -1;
    }
    if (!imagesReady())
        return unavailable();

    QByteArray document(svg.data(), static_cast<int>(std::min<size_t>(svg.size(), INT_MAX)));
    const int offsetUm = config().OutlineGrayOffset;
    if (offsetUm != 0) {
        offsetSvg(document, offsetUm / 1000.0f);
        ENGINE_LOG(LogInfo, "dist: %d um; offsetSvg: %d ms", offsetUm, static_cast<int>(m_stopwatch.elapsedMs()));
    }
    QSvgRenderer renderer;
    if (!renderer.load(document)) {
        ENGINE_LOG(LogError, "Can't Load Svg Bytes: %s", svg.c_str());
        return -1;
    }

    // Only what the last layer painted needs clearing, and only what this
    // one paints needs sending: layers rarely cover the whole panel. Without
    // a view box of its own a document's view box is the bounds of its content.
    clearRenderImage(m_renderContent);
    QPainter painter(&m_renderImage);
    if (!painter.isActive())
        return -EIO;
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Millimetres around the panel centre; Y points down unless mirrored.
    QTransform transform;
    transform.translate(m_width / 2, m_height / 2);
    transform.scale(m_mirrorX * m_pixelsPerMmX * m_calibrationX * m_machineScaleX,
                    m_mirrorY * m_pixelsPerMmY * m_calibrationY * m_machineScaleY);
    transform.rotate(m_rotationDegrees);
    QRect content = m_renderImage.rect();
    if (!document.contains("viewBox")) {
        content &= transform.mapRect(renderer.viewBoxF()).toAlignedRect().adjusted(-2, -2, 2, 2);
        painter.setClipRect(content);
    }
    painter.setTransform(transform);
    renderer.render(&painter, renderer.viewBoxF());
    painter.end();
    m_renderContent = content;

    m_processImage = true;
    return sendImageData(m_renderImage, content, true);
}

int ProjectView::decodeImageShow(const std::string& data, ComprFormat format)
{
    if (format != ComprFormat::ZlibRle) {
        ENGINE_LOG(LogInfo, "%s: H %d", "int ProjectView::decodeImageShow(const string&, ComprFormat)", __LINE__);
        PThread::msleep(kUnknownFormatWaitMs);
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const Panel kind = panel();
    if (kind == Panel::Other) {
        ENGINE_LOG(LogError, "decodeImageShow: no frame buffer of the machine's width %d", m_width);
        return -1;
    }
    if (!imagesReady())
        return unavailable();

    const int pixels = m_width * m_height;
    int result;
    try {
        result = decodeLayerData(m_gray.data(), pixels, m_scratch, data,
                                 static_cast<unsigned>(std::min<size_t>(data.size(), UINT_MAX)));
    } catch (const std::bad_alloc&) {
        ENGINE_LOG(LogError, "decodeImageShow: no memory for the decoder");
        return -EIO;
    }
    if (result != 0) {
        ENGINE_LOG(LogError, "%s failed(%i)", "decodeImageShow", result);
        return result;
    }
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
        ENGINE_LOG(LogError, "transDataImage: %zu bytes (%zu per line) do not hold an image of %d x %d", size,
                   stride, m_width, m_height);
        return -1;
    }
    const QImage image(pixels, m_width, m_height, static_cast<int>(stride), QImage::Format_RGB888);
    m_processImage = false;
    return sendImageData(image, image.rect());
}

int ProjectView::showGrayImage(int level)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!imagesReady())
        return unavailable();
    const int v = std::max(0, std::min(level, 255));
    m_renderImage.fill(qRgb(v, v, v));
    m_renderContent = m_renderImage.rect();
    m_processImage = true;
    return sendImageData(m_renderImage, m_renderContent);
}

int ProjectView::drawImage(const QImage& image)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!imagesReady())
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
        ENGINE_LOG(LogError, "showImage: cannot load %s", path.c_str());
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!imagesReady())
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
        ENGINE_LOG(LogInfo, "%s: H %d", "int ProjectView::clearScreen()", __LINE__);
        return -1;
    }
    m_fb->clear();
    return 0;
}

uint8_t* ProjectView::imageBits()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_workImage.isNull() ? nullptr : m_workImage.bits();
}

size_t ProjectView::imageBytes() const
{
    return m_workImage.isNull() ? 0 : static_cast<size_t>(m_workImage.sizeInBytes());
}

// ---- The way to the frame buffer ----

int ProjectView::imageChannel() const
{
    const int channel = config().ImageChannel;
    if (channel == 0)
        return kAllChannels;
    if (channel < 1 || channel > 3) {
        ENGINE_LOG(LogWarn, "%s failed", "changeImageChannel");
        return kAllChannels;
    }
    return channel;
}

void ProjectView::toGrayPlane(const QImage& image, const QRect& content, bool consumeLayer)
{
    if (consumeLayer) {
        moveGrayFromRgb(m_renderImage, content, m_gray.data());
        m_renderContent = QRect();
    } else {
        grayFromRgb(image, content, m_gray.data());
    }
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
        ENGINE_LOG(LogError, "%s: H %d", "void ProjectView::sendImageData(QImage&)", __LINE__);
        return -1;
    }
    const Panel kind = panel();
    if (kind == Panel::Other)
        return 0;
    if (kind == Panel::SubPixel) {
        m_stopwatch.start();
        toGrayPlane(image, content, consumeLayer);
        ENGINE_LOG(LogInfo, "Reconstruction Image Time: %d ms, Data Count: %d",
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
        ENGINE_LOG(LogInfo, "%s disabled", "processImage");
    } else {
        if (c.CorrectFlag)
            correctionStep(); // no table loaded: logs and leaves the image
        channel = imageChannel();
    }
    m_stopwatch.start();
    const FrameTarget frame{m_frameBits, m_frameStride, int(m_fb->xres()), int(m_fb->yres())};
    if (consumeLayer) {
        moveRgbImage(m_renderImage, content, frame, channel);
        m_renderContent = QRect();
    } else {
        writeRgbImage(image, content, frame, channel);
    }
    ENGINE_LOG(LogInfo, "Draw Image Time: %d ms, Data Count: %d", static_cast<int>(m_stopwatch.elapsedMs()),
               m_width * m_height * 3);
    saveShownImage(false);
    return 0;
}

int ProjectView::sendGrayPlane()
{
    const bool subPixel = panel() == Panel::SubPixel;
    if (m_processImage)
        correctGrayPlane(subPixel);
    else
        ENGINE_LOG(LogInfo, "%s disabled", "processImage");

    const int fbWidth = static_cast<int>(m_fb->xres());
    const int fbHeight = static_cast<int>(m_fb->yres());
    m_stopwatch.start();
    if (subPixel) {
        // The packed image stays in the work image, where debug commands read it.
        packSubPixels(m_gray.data(), m_width, m_height,
                      FrameTarget{m_workImage.bits(), size_t(m_workImage.bytesPerLine()), fbWidth, fbHeight});
        const int rows = std::min(m_height, fbHeight);
        for (int y = 0; y < rows; ++y)
            memcpy(m_frameBits + m_frameStride * y, m_workImage.constScanLine(y), size_t(fbWidth) * 3);
    } else {
        const int channel = m_processImage ? imageChannel() : kAllChannels;
        writeGrayPlane(m_gray.data(), m_width, m_height, FrameTarget{m_frameBits, m_frameStride, fbWidth, fbHeight},
                       channel);
    }
    ENGINE_LOG(LogInfo, "Draw Image Time: %d ms, Data Count: %d", static_cast<int>(m_stopwatch.elapsedMs()),
               subPixel ? static_cast<int>(m_workImage.sizeInBytes()) : m_width * m_height * 3);
    saveShownImage(subPixel);
    return 0;
}

void ProjectView::correctionStep()
{
    m_stopwatch.start();
    ENGINE_LOG(LogInfo, "%s %s start", kSourcePath, "correctImage");
    if (!m_correction.isLoaded()) {
        ENGINE_LOG(LogInfo, "%s: H %d", "void ProjectView::correctImage(QImage&)", __LINE__);
    } else {
        m_correction.apply(m_gray.data(), m_grayOut.data());
        m_gray.swap(m_grayOut);
        ENGINE_LOG(LogInfo, "%s %s end", kSourcePath, "correctImage");
    }
    ENGINE_LOG(LogInfo, "Correction Image Time: %i ms", static_cast<int>(m_stopwatch.elapsedMs()));
}

void ProjectView::correctGrayPlane(bool subPixel)
{
    const PrinterConfig& c = config();
    const size_t pixels = size_t(m_width) * size_t(m_height);
    const int format = QImage::Format_RGB888;
    if (c.CorrectFlag)
        correctionStep();
    if (c.MaskFlag) {
        m_stopwatch.start();
        applyMask(m_gray.data(), m_mask.data(), pixels);
        ENGINE_LOG(LogInfo, "Add Mask Image Time: %i ms, printImg format[%d] Xres[%d]",
                   static_cast<int>(m_stopwatch.elapsedMs()), format, m_width);
    }
    if (subPixel) {
        m_stopwatch.start();
        smoothPlane(m_gray.data(), m_grayOut.data(), m_width, m_height);
        m_gray.swap(m_grayOut);
        ENGINE_LOG(LogInfo, "SmoothImage Image Time: %i ms, printImg format[%d] Xres[%d]",
                   static_cast<int>(m_stopwatch.elapsedMs()), format, m_width);
    }
    if (c.Reverse) {
        m_stopwatch.start();
        reversePlane(m_gray.data(), pixels);
        ENGINE_LOG(LogInfo, "Reverse Image Time: %i ms", static_cast<int>(m_stopwatch.elapsedMs()));
    }
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
