// The simulator's frames: taken as gray when the panel shows gray, written
// by a writer whose queue never grows past its bound, each whole or not at all.
#include "board/GuiApplication.h"
#include "driver/FrameSnapshot.h"
#include "driver/FrameWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

// A 5 x 3 frame buffer whose rows carry 4 bytes of padding.
std::shared_ptr<sim::FrameBufferModel> smallFrameBuffer()
{
    return std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{5, 3, 24, 5 * 3 + 4, 0});
}

// Sets the three bytes of pixel (x, y).
void setPixel(sim::FrameBufferModel& fb, int x, int y, uint8_t a, uint8_t b, uint8_t c)
{
    uint8_t* p = fb.data() + size_t(y) * fb.geometry().lineLength + 3 * x;
    p[0] = a;
    p[1] = b;
    p[2] = c;
}

} // namespace

TEST(FrameSnapshot, OneGrayLevelAPixelIsGrayAndAnythingElseStaysRgb)
{
    auto fb = smallFrameBuffer();
    memset(fb->data(), 0xEE, fb->geometry().memoryBytes); // the padding must not count
    FrameSnapshot snapshot;
    auto fill = [&](int form) {
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const uint8_t level = static_cast<uint8_t>(10 * y + x);
                uint8_t bytes[3] = {0, 0, 0};
                if (form == 3)
                    bytes[0] = bytes[1] = bytes[2] = level;
                else
                    bytes[form] = level;
                setPixel(*fb, x, y, bytes[0], bytes[1], bytes[2]);
            }
    };
    // The level in any one byte, or in all three; the forms in turn, so each
    // frame differs from the last.
    for (int form : {1, 0, 3, 2, 1}) {
        fill(form);
        const QImage frame = snapshot.take(*fb);
        ASSERT_EQ(QImage::Format_Grayscale8, frame.format()) << "form " << form;
        ASSERT_EQ(QSize(5, 3), frame.size());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(10 * y + x, frame.constScanLine(y)[x]) << "form " << form << " at " << x << "," << y;
    }
    // One pixel of the last row with two bytes lit: the frame is not gray.
    setPixel(*fb, 4, 2, 7, 0, 9);
    const QImage colour = snapshot.take(*fb);
    EXPECT_EQ(QImage::Format_RGB888, colour.format());
    EXPECT_EQ(qRgb(7, 0, 9), colour.pixel(4, 2));
    EXPECT_EQ(fb->frame(), colour);

    auto deep = std::make_shared<sim::FrameBufferModel>(sim::FrameBufferModel::Geometry{4, 4, 16, 0, 0});
    EXPECT_TRUE(snapshot.take(*deep).isNull());
}

TEST(FrameWriter, FramesBeyondTheQueueAreDroppedUncapturedAndCounted)
{
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    int saving = 0;
    std::vector<std::string> saved;
    FrameWriter writer(2, [&](const QImage&, const std::string& path) {
        std::unique_lock<std::mutex> held(lock);
        ++saving;
        changed.notify_all();
        changed.wait(held, [&] { return released; });
        saved.push_back(path);
        return 0;
    });
    int captured = 0;
    auto capture = [&] {
        ++captured;
        return QImage(4, 4, QImage::Format_Grayscale8);
    };
    EXPECT_TRUE(writer.add("f0", capture));
    {
        // The writer holds the first frame; two more may wait.
        std::unique_lock<std::mutex> held(lock);
        changed.wait(held, [&] { return saving == 1; });
    }
    EXPECT_TRUE(writer.add("f1", capture));
    EXPECT_TRUE(writer.add("f2", capture));
    for (int i = 3; i < 10; ++i)
        EXPECT_FALSE(writer.add("f" + std::to_string(i), capture));
    EXPECT_EQ(3, captured);
    EXPECT_EQ(7u, writer.counts().dropped);
    {
        std::lock_guard<std::mutex> held(lock);
        released = true;
    }
    changed.notify_all();
    writer.finish();
    EXPECT_EQ(3u, writer.counts().written);
    EXPECT_EQ((std::vector<std::string>{"f0", "f1", "f2"}), saved);
    // After the finish nothing more is taken.
    EXPECT_FALSE(writer.add("late", capture));
    EXPECT_EQ(3, captured);
}

TEST(FrameWriter, WritesPngFilesAndCountsThoseItCannotWrite)
{
    sim::ensureGuiApplication(); // the image formats, as in the simulator
    const std::string dir = testsupport::scratchRoot() + "/frames";
    testsupport::makeDirs(dir);
    QImage gray(3, 2, QImage::Format_Grayscale8);
    gray.fill(200);
    {
        FrameWriter writer;
        EXPECT_TRUE(writer.add(dir + "/a.png", [&] { return gray; }));
        writer.finish();
        EXPECT_TRUE(writer.add(dir + "/no.png", [&] { return gray; }) == false);
        EXPECT_EQ(1u, writer.counts().written);
    }
    const QImage read(QString::fromStdString(dir + "/a.png"));
    EXPECT_EQ(QImage::Format_Grayscale8, read.format());
    EXPECT_EQ(200, read.constScanLine(1)[2]);

    FrameWriter failing;
    EXPECT_TRUE(failing.add(dir + "/missing/b.png", [&] { return gray; }));
    failing.finish();
    EXPECT_EQ(0u, failing.counts().written);
    EXPECT_EQ(1u, failing.counts().failed);
}

TEST(FrameWriter, AFrameTheDiskCannotTakeWholeLeavesNoFileAndIsNotCountedWritten)
{
    sim::ensureGuiApplication();
    const std::string dir = testsupport::scratchRoot() + "/full";
    testsupport::makeDirs(dir);
    testsupport::writeFile(dir + "/marker", "");
    // Noise, which no compression brings near the limit.
    QImage noise(64, 64, QImage::Format_Grayscale8);
    std::mt19937 random(7);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            noise.scanLine(y)[x] = static_cast<uchar>(random());
    FrameWriter::Counts counts;
    // A file-size limit of 512 bytes stands in for a disk that fills.
    testsupport::stdoutWithDiskFullPast(dir + "/marker", 512, [&] {
        FrameWriter writer;
        EXPECT_TRUE(writer.add(dir + "/frame-0001.png", [&] { return noise; }));
        writer.finish();
        counts = writer.counts();
    });
    EXPECT_EQ(0u, counts.written);
    EXPECT_EQ(1u, counts.failed);
    EXPECT_EQ(EFBIG, counts.firstError);
    std::vector<std::string> left;
    if (DIR* folder = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(folder))
            if (entry->d_name[0] != '.' || strlen(entry->d_name) > 2)
                left.push_back(entry->d_name);
        closedir(folder);
    }
    EXPECT_EQ(std::vector<std::string>{"marker"}, left); // no frame, whole or cut, nor a temporary file
}
