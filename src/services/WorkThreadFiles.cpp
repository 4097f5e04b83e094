// The worker's jobs on files and the projector's HDMI configuration tool.
#include "services/WorkThread.h"

#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "base/images/ImageUtils.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Shell.h"

#include <QDebug>
#include <QDir>

#include <unistd.h>

namespace {

// The tool prints a short report; more than this is not kept.
constexpr size_t kToolOutputKept = 2047;

// The board paths of a folder's own entries, folders and files alike,
// hidden ones and subfolders' contents left out, in the folder's order.
QStringList entriesOf(const QString& dir)
{
    const QString folder = QDir::cleanPath(dir);
    const QString prefix = folder.endsWith('/') ? folder : folder + '/';
    QStringList paths;
    const QStringList names = QDir(QString::fromStdString(Utils::fsPath(folder)))
                                  .entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names)
        paths.append(prefix + name);
    return paths;
}

} // namespace

int WorkThread::findModels(const QString& path)
{
    QStringList models;
    if (!Utils::isDir(path)) {
        emit sig_modelListFound(path, models);
        logger()->write(LogError, "showFileList error!");
        return -1;
    }
    for (const QString& entry : entriesOf(path)) {
        models.append(entry);
        Utils::getThumbnail(entry);
    }
    emit sig_modelListFound(path, models);
    return 0;
}

int WorkThread::deleteAll(const QString& path)
{
    if (!Utils::isDir(path)) {
        logger()->write(LogError, "deleteAll: %s is no folder", path.toUtf8().constData());
        emit sig_deletedAll();
        return -1;
    }
    for (const QString& entry : entriesOf(path)) {
        if (entry.endsWith(".svgx"))
            Utils::removeModel(entry);
        else
            Utils::removeFile(entry);
    }
    emit sig_deletedAll();
    return 0;
}

int WorkThread::syncLog(const QString& path)
{
    qDebug() << "void WorkThread::syncLog(const QString&)";
    int count = 0;
    // The caller waits for the count to close its popup, also when there is nowhere to copy to.
    if (!Utils::isDir(path)) {
        logger()->write(LogWarn, "syncLog: %s is no folder", path.toUtf8().constData());
        emit sig_logSyncFinished(count);
        return -1;
    }
    const QString logDir = PathManager::instance()->get(PATH_LOG);
    const QStringList names =
        QDir(QString::fromStdString(Utils::fsPath(logDir))).entryList(QStringList{"*.log", "core-*"});
    for (const QString& name : names) {
        if (Utils::copyFile(Utils::joinPath(logDir, name), Utils::joinPath(path, name)) == Utils::COPY_OK)
            ++count;
        usleep(20);
    }
    emit sig_logSyncFinished(count);
    return 0;
}

int WorkThread::hardwareConfig()
{
    LogWriter* log = logger();
    log->write(LogInfo, "HDMI EDID Configue");
    const std::string command = "cd " + shellQuote(rootPath(kHdmiToolDir)) + ";" + kHdmiTool;
    const RunResult run = runLimited({"/bin/sh", "-c", command});
    int result = run.status;
    if (!run.started) {
        log->write(LogError, "%s, %d: %s", "hardwareConfig", __LINE__, run.why.c_str());
        result = -1;
    } else if (run.timedOut || run.cancelled) {
        log->write(LogError, "%s, %d: %s", "hardwareConfig", __LINE__,
                   run.timedOut ? "the tool did not finish in time and was killed" : "stopped");
        result = -1;
    }
    const std::string output = run.output.substr(0, kToolOutputKept);
    log->write(LogInfo, "hardwareConfig Result: %d\n %s", result, output.c_str());
    emit sig_hardwareConfig(result);
    return result;
}
