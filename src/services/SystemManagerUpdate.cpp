// Update operations: check, download and stop, and the client's reports
// turned into signals. The reports arrive on the client's check and download
// threads; everything they change is published under m_updateMutex.
#include "services/SystemManager.h"

#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "nvupserver/PackageUrl.h"

#include <QDebug>

#include <cerrno>
#include <cstdio>

#include <unistd.h>

using namespace nvupserver;

bool SystemManager::checkUpdate(bool autoDownload)
{
    ClientInfo client;
    {
        std::lock_guard<std::mutex> lock(m_updateMutex);
        client = m_clientInfo;
    }
    // The flag is taken when this check answers: a call refused because a
    // check still runs must not change what that check does.
    const int error = m_updateServer->checkUpdate(client, [this, autoDownload](PackageUpdateInfo info) {
        {
            std::lock_guard<std::mutex> lock(m_updateMutex);
            m_autoDownload = autoDownload;
        }
        onUpdateInfo(info);
    });
    if (error == EBUSY) {
        logger()->write(LogWarn, "checkUpdate refused: a check is still running");
        return false;
    }
    if (error != 0) {
        qDebug() << "checkUpdate error: " << error;
        logger()->write(LogError, "checkUpdate error: %i", error);
        return false;
    }
    return true;
}

namespace {

// The client's thread delivers its result and then ends: a download asked
// for in between would be ignored by the client without a word.
bool waitForClientIdle(const UpdateServer& client)
{
    for (int i = 0; i < 1000 && client.isDownloading(); ++i)
        usleep(1000);
    return !client.isDownloading();
}

} // namespace

int SystemManager::downloadPackages()
{
    const QString packageDir = PathManager::instance()->get(PATH_PACKAGE);
    PackageUpdateInfo offer;
    DownloadInfo download;
    {
        std::lock_guard<std::mutex> lock(m_updateMutex);
        if (m_downloading) {
            logger()->write(LogWarn, "Download already running");
            return -1;
        }
        m_downloading = true; // reserved: a second caller is refused
        offer = m_updateInfo;
        download.vid = m_clientInfo.vid;
        download.pid = m_clientInfo.pid;
    }
    if (!waitForClientIdle(*m_updateServer)) {
        std::lock_guard<std::mutex> lock(m_updateMutex);
        m_downloading = false;
        logger()->write(LogWarn, "Download already running");
        return -1;
    }

    download.sessionId = offer.sessionId;
    PackageMap list;
    std::vector<PackageType> types;
    // Each package a file of its own, also where two URLs end in the same name.
    const std::vector<std::string> names = packageFileNames(offer.packages);
    for (size_t i = 0; i < offer.packages.size(); ++i) {
        const PackageUpdateItem& item = offer.packages[i];
        // An unsafe name leaves the path empty: the client refuses the
        // package and the user sees a download error.
        const std::string& name = names[i];
        PackageInfo package;
        package.type = item.type;
        package.version = item.version;
        package.url = item.url;
        package.md5 = item.md5;
        if (!name.empty())
            package.path = Utils::joinPath(packageDir, QString::fromStdString(name)).toStdString();
        list[item.type] = package; // board path, as the installer reads it
        if (!name.empty())
            package.path = rootPath(package.path);
        download.packages.push_back(package);
        types.push_back(item.type);
        logger()->write(LogInfo, "Package: %i, URL: %s", int(item.type), item.url.c_str());
    }

    PackageMap previous;
    {
        // Published before the start: the result may arrive before download() returns.
        std::lock_guard<std::mutex> lock(m_updateMutex);
        previous.swap(m_packageList);
        m_packageList = list;
        m_downloadTypes = types;
    }
    const int error = m_updateServer->download(
        download, [this](int ret, const std::string& msg) { onDownloadResult(ret, msg); },
        [this](PackageType type, double total, double now) { onDownloadProgress(type, total, now); });
    if (error != 0) {
        {
            std::lock_guard<std::mutex> lock(m_updateMutex);
            m_packageList.swap(previous);
            m_downloadTypes.clear();
            m_downloading = false;
        }
        qDebug() << "download error: " << error;
        return -1;
    }
    return 0;
}

int SystemManager::stopDownload()
{
    printf("stop download\n");
    logger()->write(LogInfo, "Stop UpdateServer Download");
    return m_updateServer->stopDownload();
}

int SystemManager::updatePackageCount() const
{
    std::lock_guard<std::mutex> lock(m_updateMutex);
    return m_packageCount;
}

bool SystemManager::isDownloaded() const
{
    std::lock_guard<std::mutex> lock(m_updateMutex);
    return m_downloaded;
}

SystemManager::PackageMap SystemManager::packageInfoList() const
{
    std::lock_guard<std::mutex> lock(m_updateMutex);
    return m_packageList;
}

PackageUpdateInfo SystemManager::serverVersionInfo() const
{
    std::lock_guard<std::mutex> lock(m_updateMutex);
    return m_updateInfo;
}

void SystemManager::onUpdateInfo(PackageUpdateInfo info)
{
    const int count = int(info.packages.size());
    // The session id stays out of the log.
    qDebug() << "updated package: result (" << info.result << "), message (" << info.message.c_str()
             << "), package count (" << count << ")";
    logger()->write(LogInfo, "updated package: result(%i), message(%s), count(%i)", info.result,
                                 info.message.c_str(), count);
    bool autoDownload = false;
    {
        std::lock_guard<std::mutex> lock(m_updateMutex);
        m_packageCount = count;
        if (info.result == 0 && count > 0) {
            m_updateInfo = info;
            autoDownload = m_autoDownload;
        }
    }
    if (info.result != 0)
        return;
    if (count > 0 && autoDownload) {
        logger()->write(LogInfo, "Auto Download");
        downloadPackages();
    }
    emit sig_checkUpdate(count > 0);
}

void SystemManager::onDownloadProgress(PackageType type, double total, double now)
{
    emit sig_downloadProgress(type, total, now);
    if (now >= total) {
        printf("package: %d download percent, total (%f), now(%f)\n", int(type), total, now);
        qDebug() << "package " << int(type) << " download finish";
    }
}

void SystemManager::onDownloadError(int code, const std::string& msg)
{
    printf("error occured: code (%d), message (%s)\n", code, msg.c_str());
    logger()->write(LogError, "error occured: code (%d), message (%s)", code, msg.c_str());
    {
        std::lock_guard<std::mutex> lock(m_updateMutex);
        m_downloaded = false;
    }
    emit sig_downloadErr(code, msg);
}

void SystemManager::onDownloadResult(int ret, const std::string& msg)
{
    printf("download result: ret (%d), message (%s)\n", ret, msg.c_str());
    bool autoDownload = false;
    std::vector<PackageType> types;
    {
        std::lock_guard<std::mutex> lock(m_updateMutex);
        m_downloaded = ret == 0;
        m_downloading = false;
        autoDownload = m_autoDownload;
        types.swap(m_downloadTypes);
    }
    emit sig_downloadedRet(ret == 0);
    if (ret == 0 && autoDownload) {
        // The packages of the download that finished, not of a later check.
        QString text;
        for (PackageType type : types)
            text += QString::number(int(type)) + ",";
        emit sig_downloadedMsg(text);
    }
}
