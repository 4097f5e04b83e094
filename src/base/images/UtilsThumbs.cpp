// Utils: model thumbnails and the USB-disk test.
#include "base/images/ImageUtils.h"

#include "base/files/Utils.h"

#include "base/config/PathManager.h"
#include "base/config/SystemState.h"
#include "base/files/DurableFile.h"
#include "base/files/RegularFile.h"
#include "base/log/LogWriter.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

constexpr size_t kHeadSize = 28;
constexpr size_t kTagSize = 16;
// The head comes from a file on a USB disk: a preview larger than this, or a
// picture of more pixels, is refused before anything is allocated for it.
constexpr uint32_t kMaxPreviewBytes = 16u << 20;
constexpr qint64 kMaxPreviewPixels = 2048 * 2048;
// Bytes from each end of a preview that, with the model's size and time,
// tell one model from another.
constexpr uint32_t kSampleBytes = 4096;

const char kThumbSuffix[] = ".png";
const char kSmallThumbSuffix[] = "_thumb.png";
// The text entry of a thumbnail naming the model it was made from.
const char kModelKey[] = "Model";
// Hex digits of the path digest in a thumbnail's name: 128 bits.
constexpr int kNameDigits = 32;

// Quiet test: a missing thumbnail is the usual case, not an error to print.
bool isRegularFile(const QString& path)
{
    struct stat info{};
    return stat(Utils::fsPath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isSvgx(const QString& path)
{
    return path.endsWith(".svgx", Qt::CaseInsensitive);
}

// The thumbnail of a model with the given name ending; empty when the model
// is not a regular file. Named by a digest of the model's whole path: models
// of one name in two folders, or one named like another's thumbnail
// ("ring.svgx" and "ring_thumb.svgx"), never share a file, and a name of any
// length fits.
QString thumbPath(const QString& modelPath, const char* suffix)
{
    const QString dir = Utils::thumbDir(modelPath);
    if (dir.isEmpty())
        return QString();
    const QByteArray digest =
        QCryptographicHash::hash(QDir::cleanPath(modelPath).toUtf8(), QCryptographicHash::Sha256).toHex();
    return Utils::joinPath(dir, QString::fromLatin1(digest.left(kNameDigits)) + suffix);
}

uint32_t readLittleEndian32(const unsigned char* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

bool readFully(int fd, char* buffer, size_t size, off_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Where the preview lies, from the head: it starts (value at 20 - value at
// 16) bytes after the head and runs to the value at 24. False for positions
// that go backwards, reach past the end of the file or are too large.
bool previewRange(const unsigned char* head, off_t fileSize, off_t* offset, uint32_t* size)
{
    const uint32_t base = readLittleEndian32(head + 16);
    const uint32_t start = readLittleEndian32(head + 20);
    const uint32_t end = readLittleEndian32(head + 24);
    if (start < base || end < start || end - start > kMaxPreviewBytes)
        return false;
    *offset = static_cast<off_t>(kHeadSize) + (start - base);
    *size = end - start;
    return *offset <= fileSize && static_cast<off_t>(*size) <= fileSize - *offset;
}

// A ".svgx" model open for reading, with where its preview lies.
struct Preview
{
    int fd = -1;
    struct stat model{};
    off_t offset = 0;
    uint32_t size = 0;

    Preview() = default;
    Preview(const Preview&) = delete;
    Preview& operator=(const Preview&) = delete;
    ~Preview()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Opens a ".svgx" model and finds its preview from the head; false (logged)
// when the file cannot be read or its head does not lead to a preview inside it.
bool locatePreview(const QString& modelPath, Preview* preview)
{
    const QByteArray pathText = modelPath.toUtf8();
    LogWriter* log = logger();
    preview->fd = openRegularFile(Utils::fsPath(modelPath));
    if (preview->fd < 0) {
        log->write(LogError, "extractThumb Fail, Fail to Open File(%s)", pathText.constData());
        return false;
    }
    unsigned char head[kHeadSize];
    if (fstat(preview->fd, &preview->model) != 0 ||
        !readFully(preview->fd, reinterpret_cast<char*>(head), kHeadSize, 0)) {
        log->write(LogError, "extractThumb Fail, Fail To Read File Header (%s)", pathText.constData());
        return false;
    }
    if (strncmp(reinterpret_cast<const char*>(head), "DLP-", 4) != 0 || !memchr(head, '\0', kTagSize)) {
        log->write(LogError, "Error File(%s)", pathText.constData());
        return false;
    }
    if (!previewRange(head, preview->model.st_size, &preview->offset, &preview->size)) {
        log->write(LogError, "extractThumb Fail, bad preview position in the head of %s (%u, %u, %u; file %lld bytes)",
                   pathText.constData(), readLittleEndian32(head + 16), readLittleEndian32(head + 20),
                   readLittleEndian32(head + 24), static_cast<long long>(preview->model.st_size));
        return false;
    }
    return true;
}

// The preview's bytes; false (logged) when they cannot be read.
bool readPreview(const QString& modelPath, const Preview& preview, QByteArray* image)
{
    image->resize(static_cast<int>(preview.size));
    if (!readFully(preview.fd, image->data(), preview.size, preview.offset)) {
        logger()->write(LogError, "extractThumb Fail, Fail To Read Image (%s)", modelPath.toUtf8().constData());
        return false;
    }
    return true;
}

// Which model a thumbnail shows: the model's size and time, and a digest of
// its preview's first and last bytes (all of a small preview; the end of a
// PNG holds the checksum of its whole picture). A model replaced by another
// of the same size and time (copies keep times, FAT keeps them in 2-second
// steps) differs there, and a listing of many models reads little of each.
QString previewRecord(const Preview& preview, const QByteArray& sample)
{
    return QString("%1 %2.%3 %4 %5")
        .arg(static_cast<qlonglong>(preview.model.st_size))
        .arg(static_cast<qlonglong>(preview.model.st_mtim.tv_sec))
        .arg(static_cast<qlonglong>(preview.model.st_mtim.tv_nsec), 9, 10, QLatin1Char('0'))
        .arg(preview.size)
        .arg(QString::fromLatin1(QCryptographicHash::hash(sample, QCryptographicHash::Sha256).toHex()));
}

uint32_t sampleHeadBytes(const Preview& preview)
{
    return std::min(preview.size, kSampleBytes);
}

uint32_t sampleTailBytes(const Preview& preview)
{
    return std::min(preview.size - sampleHeadBytes(preview), kSampleBytes);
}

// The record of the model as it is now, its samples read from the file;
// empty when they cannot be read.
QString currentRecord(const Preview& preview)
{
    const uint32_t headBytes = sampleHeadBytes(preview);
    const uint32_t tailBytes = sampleTailBytes(preview);
    QByteArray sample(static_cast<int>(headBytes + tailBytes), '\0');
    if (!readFully(preview.fd, sample.data(), headBytes, preview.offset) ||
        !readFully(preview.fd, sample.data() + headBytes, tailBytes,
                   preview.offset + static_cast<off_t>(preview.size - tailBytes)))
        return QString();
    return previewRecord(preview, sample);
}

// The record of the preview `image` read whole: the samples come from those
// bytes, so the picture and its record are of one read, whatever replaces
// the model meanwhile.
QString recordOf(const Preview& preview, const QByteArray& image)
{
    const int tailBytes = static_cast<int>(sampleTailBytes(preview));
    return previewRecord(preview, image.left(static_cast<int>(sampleHeadBytes(preview))) + image.right(tailBytes));
}

// Decodes an image, reading its size first so that a head announcing a huge
// picture costs nothing.
QImage decodePreview(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || qint64(size.width()) * size.height() > kMaxPreviewPixels)
        return QImage();
    return reader.read();
}

// Pure opaque black becomes transparent, every other pixel opaque. Pixels are
// compared as 32-bit values, as the picture's own colours where it has 32 bits.
QImage blackToTransparent(const QImage& image)
{
    const QImage colours = image.depth() == 32 ? image : image.convertToFormat(QImage::Format_RGB32);
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        const QRgb* from = reinterpret_cast<const QRgb*>(colours.constScanLine(y));
        QRgb* to = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            to[x] = from[x] == 0xFF000000u ? 0u : (to[x] | 0xFF000000u);
    }
    return result;
}

// Writes a thumbnail of the picture `data`, recording the preview it shows
// (none when `record` is empty): 0 or -1, logged.
int writeThumb(const QString& target, const QByteArray& data, const QString& record)
{
    if (target.isEmpty())
        return -1; // no folder of ours to hold it
    const QImage image = decodePreview(data);
    if (image.isNull()) {
        logger()->write(LogError, "Fail To loadFromData");
        return -1;
    }
    QImage thumb = blackToTransparent(image);
    if (!record.isEmpty())
        thumb.setText(kModelKey, record);
    // Encoded first and replaced durably: a crash mid-write must not leave a
    // truncated thumbnail that is then found and never made again.
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!thumb.save(&buffer, "PNG") ||
        durable::replaceFile(target.toStdString(), encoded.constData(), static_cast<size_t>(encoded.size())) != 0) {
        logger()->write(LogError, "Fail To Save Image (%s)", target.toUtf8().constData());
        return -1;
    }
    return 0;
}

std::mutex g_extractLock; // one extraction at a time: both files belong together

// Under g_extractLock: writes both thumbnails of a located preview.
int writeThumbs(const QString& modelPath, const Preview& preview)
{
    QByteArray image;
    if (!readPreview(modelPath, preview, &image))
        return -1;
    const QString record = recordOf(preview, image);
    if (writeThumb(thumbPath(modelPath, kSmallThumbSuffix), image, record) != 0 ||
        writeThumb(thumbPath(modelPath, kThumbSuffix), image, record) != 0)
        return -1;
    return 0;
}

// Whether both thumbnails of the model were made from it as it is now.
bool bothMadeFrom(const QString& modelPath, const Preview& preview)
{
    const QString record = currentRecord(preview);
    if (record.isEmpty())
        return false;
    for (const char* suffix : {kSmallThumbSuffix, kThumbSuffix}) {
        const QString thumb = thumbPath(modelPath, suffix);
        if (!isRegularFile(thumb))
            return false;
        QImageReader reader(QString::fromStdString(Utils::fsPath(thumb)), "png");
        if (reader.text(kModelKey) != record)
            return false;
    }
    return true;
}

// Removes both thumbnails of a model, where it has a thumbnail folder.
void removeThumbs(const QString& modelPath)
{
    for (const char* suffix : {kSmallThumbSuffix, kThumbSuffix})
        if (const QString thumb = thumbPath(modelPath, suffix); !thumb.isEmpty())
            unlink(Utils::fsPath(thumb).c_str());
}

// The thumbnail of a ".svgx" model, made again when missing or made from
// the model as it was before; empty when there is none.
QString existingThumb(const QString& modelPath, const char* suffix)
{
    if (!isRegularFile(modelPath) || !isSvgx(modelPath))
        return QString();
    std::lock_guard<std::mutex> lock(g_extractLock);
    Preview preview;
    if (!locatePreview(modelPath, &preview) ||
        (!bothMadeFrom(modelPath, preview) && writeThumbs(modelPath, preview) != 0)) {
        // The picture of another model must not stand in for this one.
        removeThumbs(modelPath);
        return QString();
    }
    return thumbPath(modelPath, suffix);
}

} // namespace

bool Utils::isUsbPath(const QString& path)
{
    const QString usb = SystemState::instance()->usbPath();
    if (usb.isEmpty())
        return false;
    if (usb.endsWith('/'))
        return path.startsWith(usb);
    return path == usb || path.startsWith(usb + '/');
}

QString Utils::thumbDir(const QString& modelPath)
{
    if (!isRegularFile(modelPath))
        return QString();
    return PathManager::instance()->get(isUsbPath(modelPath) ? PATH_THUMB_UDISK : PATH_THUMB_INTERNAL);
}

QString Utils::getThumb(const QString& modelPath)
{
    return existingThumb(modelPath, kThumbSuffix);
}

QString Utils::getThumbnail(const QString& modelPath)
{
    return existingThumb(modelPath, kSmallThumbSuffix);
}

bool Utils::removeModel(const QString& modelPath)
{
    if (!isRegularFile(modelPath))
        return false;
    removeThumbs(modelPath);
    const bool removed = QFile::remove(QString::fromStdString(fsPath(modelPath)));
    sync();
    return removed;
}

int Utils::extractThumb(const QString& modelPath)
{
    if (!isSvgx(modelPath) || !isRegularFile(modelPath))
        return -1;
    std::lock_guard<std::mutex> lock(g_extractLock);
    Preview preview;
    return locatePreview(modelPath, &preview) ? writeThumbs(modelPath, preview) : -1;
}

int Utils::saveThumb(const QString& target, const QByteArray& data)
{
    return writeThumb(target, data, QString());
}
