#pragma once

#include "nvupserver/UpdateTypes.h"

#include <boost/shared_ptr.hpp>

#include <string>
#include <vector>

namespace nvupserver {

class UpdateServerImpl;

// Client of the maker's update service: asks which packages are offered,
// downloads them with resumption and reports each result back.
class UpdateServer
{
public:
    // timeout: seconds for the check and feedback requests; test: the maker's
    // test server instead of its main and regional servers.
    UpdateServer(int timeout, bool test);

    // Base URLs ("https://host:port") tried in order, in place of the built-in ones.
    void setServers(const std::vector<std::string>& baseUrls);
    // Certificate authorities to trust; empty: the system's.
    void setCaFile(const std::string& path);

    // Attempts, times and sizes each package of a download is held to.
    void setDownloadLimits(const DownloadLimits& limits);

    void setErrorCallback(const ErrorCallback& callback);
    // 0: started, the answer arrives through the callback on the check
    // thread; EBUSY: a check still runs, nothing started; other: the error
    // number of the thread that could not be started.
    int checkUpdate(const ClientInfo& info, const UpdateInfoCallback& callback);
    int checkUpdateSync(PackageUpdateInfo& answer, const ClientInfo& info);
    // 0; the result arrives through resultCallback on the download thread.
    int download(const DownloadInfo& info, const DownloadResultCallback& resultCallback,
                 const ProgressCallback& progressCallback);
    // 0 success, 1 cancelled, other: failed.
    int downloadSync(const DownloadInfo& info, const ProgressCallback& progressCallback);
    int stopDownload();
    // True from the start of a download thread until it has delivered its
    // result and is about to end.
    bool isDownloading() const;

private:
    boost::shared_ptr<UpdateServerImpl> m_impl;
};

} // namespace nvupserver
