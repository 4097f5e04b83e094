// Model thumbnails from the preview inside ".svgx" files, including heads
// that a damaged or hostile file on a USB disk may carry.
#include "base/config/ConfigStore.h"
#include "base/config/MaskImage.h"
#include "base/config/PathManager.h"
#include "base/config/SystemState.h"
#include "base/files/Utils.h"
#include "base/images/ImageUtils.h"
#include "support/ImageBytes.h"
#include "support/TestSupport.h"
#include "writers/SvgxWriter.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>

#include <zlib.h>

#include <sys/fanotify.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <thread>

#include <cstring>
#include <set>
#include <string>

using testsupport::fileExists;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

std::string pngPreview(int width = 6, int height = 4, QRgb fill = qRgb(200, 30, 30))
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    image.setPixel(0, 0, qRgb(0, 0, 0));
    return testsupport::pngOf(image).toStdString();
}

// A PNG whose head announces width x height, with a valid checksum.
std::string pngAnnouncing(uint32_t width, uint32_t height)
{
    std::string png = pngPreview();
    // Signature (8), length (4), "IHDR" (4), then width and height, big-endian.
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    return png;
}

std::string modelWithPreview(const std::string& preview)
{
    testwriters::SvgxFileSpec spec;
    spec.preview = preview;
    spec.layers = {testwriters::layerGroup(0, {testwriters::squarePathData(0, 0, 5)})};
    return testwriters::buildSvgx(spec);
}

void putU32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Rewrites a file in place, as a copy that keeps times does: same size, same time.
void rewriteInPlace(const std::string& file, const std::string& content)
{
    struct stat before{};
    ASSERT_EQ(0, stat(file.c_str(), &before));
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_LE(0, fd);
    EXPECT_EQ(static_cast<ssize_t>(content.size()), pwrite(fd, content.data(), content.size(), 0));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    EXPECT_EQ(0, futimens(fd, times));
    close(fd);
}

class Thumbnails : public testing::Test
{
protected:
    void SetUp() override
    {
        PathManager::instance(); // makes the thumbnail folders
        testsupport::makeDirs(scratchRoot() + "/media/sda1");
        internalThumbs = PathManager::instance()->get(PATH_THUMB_INTERNAL);
    }

    void writeModel(const std::string& boardPath, const std::string& content)
    {
        writeFile(scratchRoot() + boardPath, content);
    }

    // A model written at a given time, as files of different days carry it;
    // two writes in a row may otherwise share a time stamp.
    void writeModelAt(const std::string& boardPath, const std::string& content, time_t when)
    {
        writeModel(boardPath, content);
        const timespec times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, (scratchRoot() + boardPath).c_str(), times, 0));
    }

    bool thumbExists(const QString& boardPath) { return fileExists(Utils::fsPath(boardPath)); }
    int thumbCount() { return testsupport::entriesIn(Utils::fsPath(internalThumbs)); }
    static QRgb colourOf(const QString& thumb) { return QImage(QString::fromStdString(Utils::fsPath(thumb))).pixel(5, 3); }

    static ino_t inodeOf(const QString& boardPath)
    {
        struct stat info{};
        EXPECT_EQ(0, stat(Utils::fsPath(boardPath).c_str(), &info));
        return info.st_ino;
    }

    QString internalThumbs;
};

} // namespace

TEST_F(Thumbnails, ExtractedOnceAndFoundAgainWithBlackMadeTransparent)
{
    writeModel("/data/model/cube.v2.svgx", modelWithPreview(pngPreview()));
    const int before = thumbCount();
    const QString thumb = Utils::getThumb("/data/model/cube.v2.svgx");
    EXPECT_EQ(internalThumbs, QFileInfo(thumb).path());
    EXPECT_TRUE(thumb.endsWith(".png"));
    EXPECT_EQ(before + 2, thumbCount()); // both made at once
    const QString small = Utils::getThumbnail("/data/model/cube.v2.svgx");
    EXPECT_EQ(before + 2, thumbCount());
    EXPECT_TRUE(small.endsWith("_thumb.png"));
    EXPECT_NE(thumb, small);

    const QImage saved(QString::fromStdString(Utils::fsPath(thumb)));
    ASSERT_EQ(QSize(6, 4), saved.size());
    EXPECT_EQ(0, qAlpha(saved.pixel(0, 0)));
    EXPECT_EQ(qRgba(200, 30, 30, 255), saved.pixel(5, 3));

    // Found again without a second extraction while the model stays as it
    // was: a new extraction would replace the files.
    const ino_t thumbFile = inodeOf(thumb);
    const ino_t smallFile = inodeOf(small);
    EXPECT_EQ(thumb, Utils::getThumb("/data/model/cube.v2.svgx"));
    EXPECT_EQ(small, Utils::getThumbnail("/data/model/cube.v2.svgx"));
    EXPECT_EQ(thumbFile, inodeOf(thumb));
    EXPECT_EQ(smallFile, inodeOf(small));
}

TEST_F(Thumbnails, NearBlackPixelsStayOpaque)
{
    QImage picture(5, 1, QImage::Format_RGB32);
    const QRgb colours[5] = {qRgb(0, 0, 0), qRgb(1, 0, 0), qRgb(0, 1, 0), qRgb(0, 0, 1), qRgb(1, 1, 1)};
    for (int x = 0; x < 5; ++x)
        picture.setPixel(x, 0, colours[x]);
    writeModel("/data/model/dark.svgx", modelWithPreview(testsupport::pngOf(picture).toStdString()));
    const QString thumb = Utils::getThumb("/data/model/dark.svgx");
    ASSERT_FALSE(thumb.isEmpty());
    const QImage saved = QImage(QString::fromStdString(Utils::fsPath(thumb))).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(0, qAlpha(saved.pixel(0, 0)));
    for (int x = 1; x < 5; ++x)
        EXPECT_EQ(colours[x] | 0xff000000u, saved.pixel(x, 0)) << x;
}

TEST_F(Thumbnails, AModelReplacedUnderItsNameGetsItsOwnThumbnail)
{
    writeModelAt("/data/model/part.svgx", modelWithPreview(pngPreview(6, 4, qRgb(200, 30, 30))), 1700000000);
    const QString thumb = Utils::getThumb("/data/model/part.svgx");
    ASSERT_EQ(QSize(6, 4), QImage(QString::fromStdString(Utils::fsPath(thumb))).size());

    writeModelAt("/data/model/part.svgx", modelWithPreview(pngPreview(8, 3, qRgb(30, 30, 200))), 1700000060);
    ASSERT_EQ(thumb, Utils::getThumb("/data/model/part.svgx"));
    const QImage renewed(QString::fromStdString(Utils::fsPath(thumb)));
    EXPECT_EQ(QSize(8, 3), renewed.size());
    EXPECT_EQ(qRgb(30, 30, 200), renewed.pixel(7, 2));
    const QString small = Utils::getThumbnail("/data/model/part.svgx");
    EXPECT_EQ(QSize(8, 3), QImage(QString::fromStdString(Utils::fsPath(small))).size());

    // Replaced by a model of the same size and time (a copy keeps its time):
    // its picture still tells it apart.
    const std::string red = modelWithPreview(pngPreview(6, 4, qRgb(200, 30, 30)));
    const std::string green = modelWithPreview(pngPreview(6, 4, qRgb(30, 200, 30)));
    ASSERT_EQ(red.size(), green.size());
    writeModelAt("/data/model/part.svgx", red, 1700000090);
    ASSERT_EQ(qRgb(200, 30, 30), colourOf(Utils::getThumb("/data/model/part.svgx")));
    writeModelAt("/data/model/part.svgx", green, 1700000090);
    EXPECT_EQ(qRgb(30, 200, 30), colourOf(Utils::getThumb("/data/model/part.svgx")));
    EXPECT_EQ(qRgb(30, 200, 30), colourOf(Utils::getThumbnail("/data/model/part.svgx")));

    // Replaced by a model without a picture: no thumbnail, and not the old one.
    writeModelAt("/data/model/part.svgx", modelWithPreview("no longer a picture"), 1700000120);
    EXPECT_TRUE(Utils::getThumb("/data/model/part.svgx").isEmpty());
    EXPECT_TRUE(Utils::getThumbnail("/data/model/part.svgx").isEmpty());
    EXPECT_FALSE(thumbExists(thumb));
    EXPECT_FALSE(thumbExists(small));
}

// A model rewritten in place right after its picture was read: the record
// kept with the thumbnail is that picture's, so the next look finds the
// model changed. The kernel holds each read of the model until the test lets
// it go (fanotify permission events).
TEST_F(Thumbnails, AModelRewrittenWhileItsThumbnailIsMadeShowsItsOwnPictureNext)
{
    const std::string red = modelWithPreview(pngPreview(6, 4, qRgb(200, 30, 30)));
    const std::string green = modelWithPreview(pngPreview(6, 4, qRgb(30, 200, 30)));
    ASSERT_EQ(red.size(), green.size());
    writeModelAt("/data/model/swap.svgx", red, 1700000000);
    const std::string file = scratchRoot() + "/data/model/swap.svgx";
    const int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_CLOEXEC);
    if (fan < 0 || fanotify_mark(fan, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, file.c_str()) != 0) {
        const int error = errno;
        if (fan >= 0)
            close(fan);
        GTEST_SKIP() << "no fanotify permission events here: " << strerror(error);
    }
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        // The head and the picture are the first two reads.
        for (int reads = 0; !done;) {
            pollfd ready{fan, POLLIN, 0};
            char buffer[4096];
            ssize_t left = poll(&ready, 1, 20) > 0 ? read(fan, buffer, sizeof buffer) : 0;
            for (auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer); left > 0 && FAN_EVENT_OK(event, left);
                 event = FAN_EVENT_NEXT(event, left)) {
                if (++reads == 3)
                    rewriteInPlace(file, green);
                const fanotify_response allow{event->fd, FAN_ALLOW};
                EXPECT_EQ(static_cast<ssize_t>(sizeof allow), write(fan, &allow, sizeof allow));
                close(event->fd);
            }
        }
    });
    EXPECT_EQ(0, Utils::extractThumb("/data/model/swap.svgx"));
    done = true;
    watcher.join();
    close(fan);
    rewriteInPlace(file, green); // where no third read came
    EXPECT_EQ(qRgb(30, 200, 30), colourOf(Utils::getThumb("/data/model/swap.svgx")));
}

TEST_F(Thumbnails, ASecondDisksModelOfTheSameNameShowsItsOwnPicture)
{
    testsupport::makeDirs(scratchRoot() + "/media/sdb1");
    // Files of the same size, written on different days.
    writeModelAt("/media/sda1/part.svgx", modelWithPreview(pngPreview(6, 4, qRgb(200, 30, 30))), 1700000000);
    writeModelAt("/media/sdb1/part.svgx", modelWithPreview(pngPreview(6, 4, qRgb(30, 200, 30))), 1710000000);

    SystemState::instance()->setUsbPath("/media/sda1");
    const QString first = Utils::getThumbnail("/media/sda1/part.svgx");
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(qRgb(200, 30, 30), QImage(QString::fromStdString(Utils::fsPath(first))).pixel(5, 3));

    SystemState::instance()->setUsbPath("/media/sdb1");
    const QString second = Utils::getThumbnail("/media/sdb1/part.svgx");
    EXPECT_EQ(QFileInfo(first).path(), QFileInfo(second).path()); // one folder for whichever disk is in
    EXPECT_EQ(qRgb(30, 200, 30), QImage(QString::fromStdString(Utils::fsPath(second))).pixel(5, 3));
    SystemState::instance()->setUsbPath("");
}

TEST_F(Thumbnails, ModelsNamedAlikeKeepThumbnailsOfTheirOwn)
{
    // Of one size and time, as copies from one folder are: only the pictures differ.
    const std::string red = modelWithPreview(pngPreview(6, 4, qRgb(200, 30, 30)));
    const std::string green = modelWithPreview(pngPreview(6, 4, qRgb(30, 200, 30)));
    ASSERT_EQ(red.size(), green.size());
    // One named like the other's small thumbnail; one name in two folders of a disk.
    const std::vector<std::pair<std::string, QRgb>> models = {
        {"/data/model/ring.svgx", qRgb(200, 30, 30)},     {"/data/model/ring_thumb.svgx", qRgb(30, 200, 30)},
        {"/media/sda1/a/part.svgx", qRgb(200, 30, 30)}, {"/media/sda1/b/part.svgx", qRgb(30, 200, 30)}};
    for (const char* folder : {"/media/sda1/a", "/media/sda1/b"})
        testsupport::makeDirs(scratchRoot() + folder);
    for (const auto& model : models)
        writeModelAt(model.first, model.second == qRgb(200, 30, 30) ? red : green, 1700000000);
    SystemState::instance()->setUsbPath("/media/sda1");
    std::set<QString> files;
    for (int round = 0; round < 2; ++round)
        for (const auto& model : models) {
            const QString path = QString::fromStdString(model.first);
            for (const QString& thumb : {Utils::getThumb(path), Utils::getThumbnail(path)}) {
                ASSERT_FALSE(thumb.isEmpty()) << model.first;
                EXPECT_EQ(model.second, colourOf(thumb)) << model.first << " " << round;
                files.insert(thumb);
            }
        }
    EXPECT_EQ(8u, files.size());
    SystemState::instance()->setUsbPath("");
}

TEST_F(Thumbnails, ASaveThatRunsOutOfRoomKeepsTheOldThumbnailWhole)
{
    const QString thumb = Utils::joinPath(internalThumbs, "part.png");
    ASSERT_EQ(0, Utils::saveThumb(thumb, QByteArray::fromStdString(pngPreview())));
    const std::string before = testsupport::readFile(Utils::fsPath(thumb));

    // A larger picture written where files may not grow past 64 bytes, as on a full disk.
    const QByteArray larger = QByteArray::fromStdString(pngPreview(300, 200));
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(Utils::saveThumb(thumb, larger) == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed save was reported as done";
    EXPECT_EQ(before, testsupport::readFile(Utils::fsPath(thumb)));
}

TEST_F(Thumbnails, ModelsOnTheUsbDiskKeepTheirThumbnailsApart)
{
    SystemState::instance()->setUsbPath("/media/sda1");
    writeModel("/media/sda1/part.SVGX", modelWithPreview(pngPreview()));
    const QString small = Utils::getThumbnail("/media/sda1/part.SVGX");
    EXPECT_EQ(PathManager::instance()->get(PATH_THUMB_UDISK), QFileInfo(small).path());
    EXPECT_TRUE(thumbExists(small));
    SystemState::instance()->setUsbPath("");
}

TEST_F(Thumbnails, RemovingAModelRemovesItsThumbnails)
{
    writeModel("/data/model/gone.svgx", modelWithPreview(pngPreview()));
    const QString thumb = Utils::getThumb("/data/model/gone.svgx");
    const QString small = Utils::getThumbnail("/data/model/gone.svgx");
    ASSERT_FALSE(thumb.isEmpty());
    ASSERT_FALSE(small.isEmpty());
    EXPECT_TRUE(Utils::removeModel("/data/model/gone.svgx"));
    EXPECT_FALSE(fileExists(scratchRoot() + "/data/model/gone.svgx"));
    EXPECT_FALSE(thumbExists(thumb));
    EXPECT_FALSE(thumbExists(small));
    EXPECT_FALSE(Utils::removeModel("/data/model/gone.svgx"));
}

TEST_F(Thumbnails, HostileHeadsGiveNoThumbnail)
{
    const std::string good = modelWithPreview(pngPreview());
    const uint32_t svgOffset = static_cast<uint32_t>(28 + pngPreview().size());
    struct Case
    {
        const char* what;
        std::string file;
    };
    std::vector<Case> cases;
    auto withHead = [&](const char* what, uint32_t base, uint32_t start, uint32_t end) {
        std::string file = good;
        putU32(file, 16, base);
        putU32(file, 20, start);
        putU32(file, 24, end);
        cases.push_back({what, file});
    };
    withHead("start before base", 100, 28, svgOffset);
    withHead("end before start", 28, 28, 20);
    withHead("image past the end", 28, 28, 0x7fffffff);
    withHead("skip past the end", 28, 0xfffffff0u, 0xffffffffu);
    withHead("preview above 16 MiB", 28, 28, 28 + (17u << 20));
    cases.push_back({"short head", good.substr(0, 20)});
    std::string wrongTag = good;
    memcpy(&wrongTag[0], "XLP-", 4);
    cases.push_back({"tag without DLP-", wrongTag});
    cases.push_back({"no picture", modelWithPreview("just some bytes")});
    cases.push_back({"picture of 30000 x 30000", modelWithPreview(pngAnnouncing(30000, 30000))});
    cases.push_back({"picture of 0 x 5", modelWithPreview(pngAnnouncing(0, 5))});

    const int before = thumbCount();
    for (const Case& c : cases) {
        writeModel("/data/model/bad.svgx", c.file);
        EXPECT_EQ(-1, Utils::extractThumb("/data/model/bad.svgx")) << c.what;
        EXPECT_TRUE(Utils::getThumb("/data/model/bad.svgx").isEmpty()) << c.what;
        EXPECT_EQ(before, thumbCount()) << c.what;
    }
    EXPECT_EQ(-1, Utils::extractThumb("/data/model/missing.svgx"));
    writeModel("/data/model/cube.qds", good);
    EXPECT_EQ(-1, Utils::extractThumb("/data/model/cube.qds"));
    EXPECT_TRUE(Utils::getThumb("/data/model/cube.qds").isEmpty());
}

TEST(UtilsUsbPath, OnlyTheDiskFolderAndWhatLiesBelowIt)
{
    EXPECT_FALSE(Utils::isUsbPath("/media/sda1/x.svgx")); // no disk
    SystemState::instance()->setUsbPath("/media/sda1");
    EXPECT_TRUE(Utils::isUsbPath("/media/sda1"));
    EXPECT_TRUE(Utils::isUsbPath("/media/sda1/models/x.svgx"));
    EXPECT_FALSE(Utils::isUsbPath("/media/sda10/x.svgx"));
    EXPECT_FALSE(Utils::isUsbPath("/media/sda"));
    EXPECT_FALSE(Utils::isUsbPath("/data/model/x.svgx"));
}

TEST(UtilsMaskImage, NamedAfterTheSerialAndKeptInItsFolder)
{
    ConfigStore::instance()->m_serial = "";
    EXPECT_EQ(Utils::joinPath("/data/etc", "mask-serial.png"), Utils::maskImagePath("/data/etc"));
    ConfigStore::instance()->m_serial = "AB1234";
    EXPECT_EQ(Utils::joinPath("/data/etc", "mask-AB1234.png"), Utils::maskImagePath("/data/etc"));
    ConfigStore::instance()->m_serial = "../../etc/passwd";
    const QString path = Utils::maskImagePath("/data/etc");
    EXPECT_EQ("/data/etc", QFileInfo(path).path());
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith("mask-"));
}
