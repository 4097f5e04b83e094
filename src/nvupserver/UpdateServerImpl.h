#pragma once

#include "nvupserver/Http.h"
#include "nvupserver/UpdateTypes.h"

#include "base/threads/FunctionThread.h"
#include "base/threads/StopSignal.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace nvupserver {

// Runs the check and the download on threads of its own, one of each at a
// time, and reports through the callbacks on those threads.
class UpdateServerImpl
{
public:
    UpdateServerImpl(int timeout, bool test);
    ~UpdateServerImpl();
    UpdateServerImpl(const UpdateServerImpl&) = delete;
    UpdateServerImpl& operator=(const UpdateServerImpl&) = delete;

    void setServers(const std::vector<std::string>& baseUrls);
    void setCaFile(const std::string& path);
    void setErrorCallback(const ErrorCallback& callback);
    void setDownloadLimits(const DownloadLimits& limits);

    int checkUpdate(const ClientInfo& info, const UpdateInfoCallback& callback);
    int checkUpdateSync(PackageUpdateInfo& answer, const ClientInfo& info);
    int download(const DownloadInfo& info, const DownloadResultCallback& resultCallback,
                 const ProgressCallback& progressCallback);
    int downloadSync(const DownloadInfo& info, const ProgressCallback& progressCallback);
    int stopDownload();
    bool isDownloading() const { return m_downloadRunning.load(); }

private:
    struct ProgressContext
    {
        UpdateServerImpl* self;
        PackageType type;
        const ProgressCallback* callback;
    };

    // Joins the finished run of the thread, if any, and starts the next;
    // the error number when it cannot.
    static int restartThread(FunctionThread& thread);
    void checkThreadMain();
    void downloadThreadMain();
    static int progressForType(void* context, double total, double now);

    // One server: its answer in `answer`, the milliseconds it took returned.
    long long postCheck(const std::string& baseUrl, const std::string& body, PackageUpdateInfo& answer);
    int downloadPackage(const PackageInfo& package, HttpOptions options, const ProgressCallback& progress);
    void feedback(const DownloadInfo& info, const PackageInfo& package, int result);
    void reportError(int code, const std::string& message);
    // Time-out, header lines and trusted authorities of the check and the feedback.
    HttpOptions requestOptions();

    int m_timeout;
    std::string m_baseUrl;
    std::vector<std::string> m_servers;
    ErrorCallback m_errorCallback;
    ClientInfo m_clientInfo;
    // Guards the members above and the authorities file: the check, the
    // download's feedback and the caller's thread all use them.
    std::mutex m_checkLock;
    FunctionThread m_checkThread;
    // Set when a check thread starts, cleared by that thread as its last act.
    std::atomic<bool> m_checkRunning{false};
    UpdateInfoCallback m_updateInfoCallback;
    DownloadInfo m_downloadInfo;
    DownloadResultCallback m_downloadResultCallback;
    ProgressCallback m_progressCallback;
    std::mutex m_downloadLock;
    FunctionThread m_downloadThread;
    std::atomic<bool> m_downloadRunning{false};
    DownloadLimits m_limits; // under m_downloadLock
    StopSignal m_stop;
    // Raised by the destructor: ends a running check and feedback as well.
    StopSignal m_closing;
    // Starting and joining the threads.
    std::mutex m_threadLock;
    std::vector<std::string> m_headers;
    std::string m_caFile;
};

} // namespace nvupserver
