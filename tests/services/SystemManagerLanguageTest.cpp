// Translations and code pages, and the build-volume check of ".svgx" models.
#include "SystemManagerFixture.h"

#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "support/TestSupport.h"
#include "writers/SvgxWriter.h"

#include <QDir>
#include <QFileInfo>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// A translation file of `locale` in the program folder, made by lrelease.
bool makeTranslation(const QString& locale, const QString& greeting)
{
    const std::string dir = Utils::fsPath(PathManager::instance()->get(PATH_BIN_DIR));
    testsupport::makeDirs(dir);
    const std::string ts = dir + "/dureVOR_" + locale.toStdString() + ".ts";
    testsupport::writeFile(ts, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n"
                               "<TS version=\"2.1\" language=\"" + locale.toStdString() + "\">\n"
                               "<context><name>Page</name><message><source>Hello</source>"
                               "<translation>" + greeting.toStdString() + "</translation></message></context>\n"
                               "</TS>\n");
    std::string lrelease = "/usr/lib/qt5/bin/lrelease";
    if (!QFileInfo(QString::fromStdString(lrelease)).isExecutable())
        lrelease = "lrelease";
    // Started with fork and exec, not QProcess: under the cross build's
    // emulator QProcess cannot start a program.
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        execlp(lrelease.c_str(), lrelease.c_str(), "-silent", ts.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0
           && testsupport::fileExists(dir + "/dureVOR_" + locale.toStdString() + ".qm");
}

QString hello()
{
    return QCoreApplication::translate("Page", "Hello");
}

} // namespace

TEST_F(SystemManagerTest, LanguagesAndTheirCodePages)
{
    SystemManager* manager = start();
    ASSERT_TRUE(makeTranslation("zh_CN", "Ni hao"));
    ASSERT_TRUE(makeTranslation("ja_JP", "Konnichiwa"));

    EXPECT_EQ("437", manager->codePage());
    EXPECT_EQ(0, manager->loadLanguage("zh_CN"));
    EXPECT_EQ("Ni hao", hello());
    EXPECT_EQ("zh_CN", manager->language());
    EXPECT_EQ("936", manager->codePage());

    EXPECT_EQ(0, manager->loadLanguage("ja_JP"));
    EXPECT_EQ("Konnichiwa", hello());
    EXPECT_EQ("936", manager->codePage());

    // English needs no file and removes the translation.
    EXPECT_EQ(0, manager->loadLanguage("en_US"));
    EXPECT_EQ("Hello", hello());
    EXPECT_EQ("en_US", manager->language());
    EXPECT_EQ("437", manager->codePage());
}

TEST_F(SystemManagerTest, MissingOrBrokenTranslationKeepsTheCurrentOne)
{
    SystemManager* manager = start();
    ASSERT_TRUE(makeTranslation("zh_CN", "Ni hao"));
    ASSERT_EQ(0, manager->loadLanguage("zh_CN"));

    const std::string dir = Utils::fsPath(PathManager::instance()->get(PATH_BIN_DIR));
    testsupport::writeFile(dir + "/dureVOR_de_DE.qm", "not a translation at all");
    EXPECT_EQ(-1, manager->loadLanguage("de_DE"));
    EXPECT_EQ(-1, manager->loadLanguage("fr_FR")); // no file
    testsupport::makeDirs(dir + "/dureVOR_it_IT.qm"); // not a regular file
    EXPECT_EQ(-1, manager->loadLanguage("it_IT"));

    EXPECT_EQ("Ni hao", hello());
    EXPECT_EQ("zh_CN", manager->language());
    EXPECT_EQ("936", manager->codePage());
}

TEST_F(SystemManagerTest, ModelsInsideAndOutsideTheVolume)
{
    SystemManager* manager = start();
    ConfigStore* config = ConfigStore::instance();
    config->m_printerConfig.Width = 144;
    config->m_printerConfig.Height = 81;
    config->m_printerConfig.ZLength = 150;
    config->m_printerConfig.ZOffset = 2;
    config->m_printingPara.LiftI.X = 2;
    config->m_printingPara.LiftII.X = 4;
    const float top = 150 + 2 - (2 + 4);

    testsupport::makeDirs(testsupport::scratchRoot() + "/models");
    int n = 0;
    auto outOfRange = [&](const testwriters::SvgxPrintParams& params) {
        testwriters::SvgxFileSpec spec;
        spec.printParams = testwriters::printParamsElement(params, 1);
        spec.layers = {testwriters::layerGroup(0, {testwriters::squarePathData(0, 0, 5)})};
        const std::string board = "/models/model " + std::to_string(++n) + ".svgx";
        testsupport::writeFile(testsupport::scratchRoot() + board, testwriters::buildSvgx(spec));
        return manager->isModelOutOfRange(QString::fromStdString(board));
    };

    testwriters::SvgxPrintParams inside;
    inside.minX = -72;
    inside.maxX = 72;
    inside.minY = -40.5f;
    inside.maxY = 40.5f;
    inside.minZ = 0;
    inside.maxZ = top; // the edges belong to the volume
    EXPECT_FALSE(outOfRange(inside));

    for (int side = 0; side < 6; ++side) {
        testwriters::SvgxPrintParams outside = inside;
        float* fields[] = {&outside.minX, &outside.minY, &outside.minZ, &outside.maxX, &outside.maxY, &outside.maxZ};
        *fields[side] += side < 3 ? -0.5f : 0.5f;
        EXPECT_TRUE(outOfRange(outside)) << "side " << side;
    }

    // No print range, or no readable file: judged with an all-zero range.
    testwriters::SvgxPrintParams noRange = inside;
    noRange.withPrintRange = false;
    EXPECT_FALSE(outOfRange(noRange));
    EXPECT_FALSE(manager->isModelOutOfRange("/models/missing.svgx"));
}
