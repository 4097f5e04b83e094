// Colours, pixmaps and QR codes. QR codes are made by the real encoder and
// read back by a real decoder.
#include "base/images/ImageUtils.h"
#include "board/GuiApplication.h"
#include "support/ImageBytes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPixmap>

#include <cstdio>
#include <string>

using testsupport::fileExists;
using testsupport::pngOf;
using testsupport::scratchRoot;

namespace {

// What zbarimg reads from a picture, without its trailing line break.
std::string decodeQr(const std::string& picture)
{
    const std::string command = "zbarimg --raw -q '" + picture + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "<zbarimg did not start>";
    std::string text;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    pclose(pipe);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

const char kEncoder[] = "qrencode --foreground=FF0000 --background=FFFFFF -s 6";

class QrCode : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::ensureGuiApplication();
        testsupport::makeDirs(scratchRoot() + "/tmp");
    }
};

} // namespace

TEST(UtilsColours, RolesOfTheControls)
{
    EXPECT_EQ(QColor(22, 166, 235), Utils::getColor(1));
    EXPECT_EQ(QColor(Qt::darkGray), Utils::getColor(3));
    EXPECT_EQ(QColor(Qt::black), Utils::getColor(4));
    EXPECT_EQ(QColor(Qt::black), Utils::getColor(7));
    EXPECT_EQ(QColor("#c2172d"), Utils::getColor(5));
    EXPECT_EQ(QColor("#07b8f7"), Utils::getColor(6));
    EXPECT_EQ(0, Utils::getColor(8).alpha());
    for (int role : {0, 2, 9, -1})
        EXPECT_EQ(QColor(Qt::white), Utils::getColor(role)) << role;
    EXPECT_EQ("KaiTi", Utils::getFontFamily());
}

TEST(UtilsPixmaps, LoadedAndMaskedPixmapsAreScaledAndBlackBecomesTransparent)
{
    sim::ensureGuiApplication();
    QImage image(4, 2, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(0, 0, qRgb(0, 0, 0));
    testsupport::makeDirs(scratchRoot() + "/data");
    ASSERT_TRUE(image.save(QString::fromStdString(scratchRoot() + "/data/icon.png")));

    const QPixmap loaded = Utils::loadPixmap("/data/icon.png", 40, 10);
    EXPECT_EQ(QSize(40, 10), loaded.size());
    EXPECT_TRUE(Utils::loadPixmap("/data/missing.png", 40, 10).isNull());

    const QPixmap masked = Utils::maskedPixmap(pngOf(image), 8, 4);
    ASSERT_EQ(QSize(8, 4), masked.size());
    const QImage shown = masked.toImage();
    EXPECT_EQ(0, qAlpha(shown.pixel(0, 0)));
    EXPECT_EQ(255, qAlpha(shown.pixel(7, 3)));

    EXPECT_TRUE(Utils::maskedPixmap(QByteArray("not an image"), 8, 4).isNull());
}

TEST_F(QrCode, TextsWithShellCharactersComeBackFromTheDecoder)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string saved = scratchRoot() + "/shown.png";
    for (const char* text : {"SN-12345", "it's a test; rm -rf /tmp/x", "two  spaces and \"quotes\" $HOME `id`",
                             "-v", "--help"}) {
        QPixmap pixmap;
        Utils::getQRCode(kEncoder, text, pixmap);
        ASSERT_FALSE(pixmap.isNull()) << text;
        ASSERT_TRUE(pixmap.save(QString::fromStdString(saved)));
        EXPECT_EQ(text, decodeQr(saved));
    }
}

TEST_F(QrCode, AFailedEncoderGivesNoPictureNotTheOldOne)
{
    SKIP_WITHOUT_SANDBOX();
    QPixmap pixmap;
    Utils::getQRCode(kEncoder, "first", pixmap);
    ASSERT_FALSE(pixmap.isNull());

    Utils::getQRCode("false", "second", pixmap);
    EXPECT_TRUE(pixmap.isNull());
    EXPECT_FALSE(fileExists(scratchRoot() + "/tmp/qrcode.png"));

    // An encoder that succeeds without writing leaves no stale picture either.
    Utils::getQRCode(kEncoder, "third", pixmap);
    Utils::getQRCode("true", "fourth", pixmap);
    EXPECT_TRUE(pixmap.isNull());
}
