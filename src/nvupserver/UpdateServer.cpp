#include "nvupserver/UpdateServer.h"

#include "nvupserver/UpdateServerImpl.h"

namespace nvupserver {

UpdateServer::UpdateServer(int timeout, bool test) : m_impl(new UpdateServerImpl(timeout, test)) {}

void UpdateServer::setServers(const std::vector<std::string>& baseUrls)
{
    m_impl->setServers(baseUrls);
}

void UpdateServer::setCaFile(const std::string& path)
{
    m_impl->setCaFile(path);
}

void UpdateServer::setDownloadLimits(const DownloadLimits& limits)
{
    m_impl->setDownloadLimits(limits);
}

void UpdateServer::setErrorCallback(const ErrorCallback& callback)
{
    m_impl->setErrorCallback(callback);
}

int UpdateServer::checkUpdate(const ClientInfo& info, const UpdateInfoCallback& callback)
{
    return m_impl->checkUpdate(info, callback);
}

int UpdateServer::checkUpdateSync(PackageUpdateInfo& answer, const ClientInfo& info)
{
    return m_impl->checkUpdateSync(answer, info);
}

int UpdateServer::download(const DownloadInfo& info, const DownloadResultCallback& resultCallback,
                           const ProgressCallback& progressCallback)
{
    return m_impl->download(info, resultCallback, progressCallback);
}

int UpdateServer::downloadSync(const DownloadInfo& info, const ProgressCallback& progressCallback)
{
    return m_impl->downloadSync(info, progressCallback);
}

int UpdateServer::stopDownload()
{
    return m_impl->stopDownload();
}

bool UpdateServer::isDownloading() const
{
    return m_impl->isDownloading();
}

} // namespace nvupserver
