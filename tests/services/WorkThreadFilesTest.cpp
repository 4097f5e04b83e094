// The worker's jobs on model folders, log files and the HDMI tool, on real
// files and a stub tool under the scratch root.
#include "WorkThreadFixture.h"

#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "base/images/ImageUtils.h"
#include "support/ImageBytes.h"
#include "support/TestSupport.h"
#include "writers/SvgxWriter.h"

#include <QImage>

#include <algorithm>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

std::string modelWithPreview()
{
    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(qRgb(200, 30, 30));
    testwriters::SvgxFileSpec spec;
    spec.preview = testsupport::pngOf(image).toStdString();
    spec.layers = {testwriters::layerGroup(0, {testwriters::squarePathData(0, 0, 5)})};
    return testwriters::buildSvgx(spec);
}

int internalThumbCount()
{
    return testsupport::entriesIn(Utils::fsPath(PathManager::instance()->get(PATH_THUMB_INTERNAL)));
}

// Two models, a text file, an empty and a full subfolder, and a hidden entry.
void writeModelFolder()
{
    PathManager::instance(); // the data and thumbnail folders
    const std::string models = scratchRoot() + "/data/model";
    writeFile(models + "/cube.svgx", modelWithPreview());
    writeFile(models + "/ring.qds", "qds");
    writeFile(models + "/notes.txt", "text");
    makeDirs(models + "/empty");
    makeDirs(models + "/full");
    writeFile(models + "/full/inner.svgx", modelWithPreview());
    writeFile(models + "/.hidden", "");
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

TEST_F(WorkThreadTest, ModelListingReportsEveryEntryAndMakesThumbnails)
{
    writeModelFolder();
    const int thumbsBefore = internalThumbCount();
    WorkThread worker;
    JobSignals emitted(worker);
    worker.setPathAndFilters("/data/model", {"*.svgx", "*.qds"});
    runJob(worker, WorkThread::JOB_FIND_MODELS);
    worker.setPath("/data/none");
    runJob(worker, WorkThread::JOB_FIND_MODELS);

    ASSERT_EQ(2u, emitted.modelLists.all().size());
    EXPECT_EQ((QStringList{"/data/model/cube.svgx", "/data/model/empty", "/data/model/full", "/data/model/notes.txt",
                           "/data/model/ring.qds"}),
              sorted(emitted.modelLists.all()[0]));
    EXPECT_EQ(thumbsBefore + 2, internalThumbCount()); // the cube's two
    EXPECT_EQ(QStringList{}, emitted.modelLists.all()[1]);
}

TEST_F(WorkThreadTest, DeleteAllRemovesModelsWithTheirThumbnails)
{
    writeModelFolder();
    const QString cubeThumb = Utils::getThumbnail("/data/model/cube.svgx");
    ASSERT_FALSE(cubeThumb.isEmpty());
    WorkThread worker;
    JobSignals emitted(worker);
    runJobOnPaths(worker, WorkThread::JOB_DELETE_ALL, {"/data/model", "/data/none"});

    EXPECT_EQ(2u, emitted.deletedAll.count());
    const std::string models = scratchRoot() + "/data/model";
    for (const char* gone : {"/cube.svgx", "/ring.qds", "/notes.txt", "/empty"})
        EXPECT_FALSE(fileExists(models + gone)) << gone;
    EXPECT_FALSE(fileExists(Utils::fsPath(cubeThumb)));
    // A folder with content and hidden entries stay.
    EXPECT_TRUE(fileExists(models + "/full/inner.svgx"));
    EXPECT_TRUE(fileExists(models + "/.hidden"));
}

TEST_F(WorkThreadTest, LogCopyCountsTheFilesActuallyCopied)
{
    const std::string logs = scratchRoot() + "/data/var";
    writeFile(logs + "/extra.log", "extra");
    writeFile(logs + "/core-1234", "core");
    writeFile(logs + "/notes.txt", "not a log");
    makeDirs(logs + "/folder.log");
    const std::string disk = scratchRoot() + "/media/sda1";
    makeDirs(disk + "/core-1234"); // in the way of that copy

    WorkThread worker;
    JobSignals emitted(worker);
    runJobOnPaths(worker, WorkThread::JOB_SYNC_LOG, {"/media/sda1", "/media/sdb1"});

    // The process log and extra.log; not the core file nor the folder.
    EXPECT_EQ((std::vector<int>{2, 0}), emitted.logCounts.all());
    EXPECT_EQ("extra", readFile(disk + "/extra.log"));
    EXPECT_TRUE(fileExists(disk + "/TalvikS.log"));
    EXPECT_FALSE(fileExists(disk + "/notes.txt"));
}

TEST_F(WorkThreadTest, HdmiToolResultIsAlwaysReported)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string tool = scratchRoot() + WorkThread::kHdmiToolDir + "/DLP_HDMI_CONF";
    writeStub(tool);
    WorkThread worker;
    // Generous where the tool ends by itself, short only where it hangs:
    // a busy host must not turn a slow start into a kill.
    worker.setCommandLimits(10000, 10000);
    JobSignals emitted(worker);

    runJob(worker, WorkThread::JOB_HARDWARE_CONFIG);
    setModes("DLP_HDMI_CONF", {"fail"});
    runJob(worker, WorkThread::JOB_HARDWARE_CONFIG);
    setModes("DLP_HDMI_CONF", {"hang"});
    worker.setCommandLimits(10000, 700);
    runJob(worker, WorkThread::JOB_HARDWARE_CONFIG);
    worker.setCommandLimits(10000, 10000);
    remove(tool.c_str());
    runJob(worker, WorkThread::JOB_HARDWARE_CONFIG);

    const std::vector<int> results = emitted.hardwareResults.all();
    ASSERT_EQ(4u, results.size());
    EXPECT_EQ(0, results[0]);
    EXPECT_EQ(3 << 8, results[1]) << "the raw status of an exit with 3";
    EXPECT_EQ(-1, results[2]) << "killed after its limit";
    EXPECT_NE(0, results[3]) << "missing tool";
    const std::string log = logged();
    // The tool's output stays inside the line: its breaks, and the one before it, are escaped.
    EXPECT_NE(std::string::npos, log.find("hardwareConfig Result: 768\\n DLP_HDMI_CONF out")) << log;
}
