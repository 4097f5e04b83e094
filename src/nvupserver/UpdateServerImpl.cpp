#include "nvupserver/UpdateServerImpl.h"

#include "nvupserver/PackageUrl.h"
#include "nvupserver/UpdateJson.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <set>

namespace nvupserver {

namespace {

// The maker's host names are configuration (setServers); these never resolve.
const char kTestServer[] = "https://update-test.invalid:11002";
const char kMainServer[] = "https://update.invalid:10443";
const char kRegionalServer[] = "https://update-regional.invalid:10443";

const char* downloadMessage(int result)
{
    if (result == 0)
        return "download success";
    return result == 1 ? "download canceled" : "download error";
}

} // namespace

UpdateServerImpl::UpdateServerImpl(int timeout, bool test)
    : m_timeout(timeout),
      m_checkThread([this] {
          checkThreadMain();
          return nullptr;
      }),
      m_downloadThread([this] {
          downloadThreadMain();
          return nullptr;
      })
{
    if (test)
        m_servers = {kTestServer};
    else
        m_servers = {kMainServer, kRegionalServer};
    m_headers = {"Content-Type: application/json", "Connection: keep-alive"};
}

UpdateServerImpl::~UpdateServerImpl()
{
    // Both threads leave libcurl at their next progress report, then end.
    m_closing.raise();
    m_stop.raise();
    std::lock_guard<std::mutex> threads(m_threadLock);
    m_checkThread.join();
    m_downloadThread.join();
}

void UpdateServerImpl::setServers(const std::vector<std::string>& baseUrls)
{
    std::lock_guard<std::mutex> lock(m_checkLock);
    m_servers = baseUrls;
}

void UpdateServerImpl::setCaFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_checkLock);
    m_caFile = path;
}

void UpdateServerImpl::setErrorCallback(const ErrorCallback& callback)
{
    std::lock_guard<std::mutex> lock(m_checkLock);
    m_errorCallback = callback;
}

void UpdateServerImpl::setDownloadLimits(const DownloadLimits& limits)
{
    std::lock_guard<std::mutex> lock(m_downloadLock);
    m_limits = limits;
}

void UpdateServerImpl::reportError(int code, const std::string& message)
{
    ErrorCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_checkLock);
        callback = m_errorCallback;
    }
    if (callback)
        callback(code, message);
}

HttpOptions UpdateServerImpl::requestOptions()
{
    HttpOptions options;
    options.timeout = m_timeout;
    options.headers = m_headers;
    options.stop = &m_closing;
    std::lock_guard<std::mutex> lock(m_checkLock);
    options.caFile = m_caFile;
    return options;
}

int UpdateServerImpl::restartThread(FunctionThread& thread)
{
    thread.join();
    return thread.start(false, PThread::defaultStackSize()) == 0 ? 0 : errno;
}

int UpdateServerImpl::checkUpdate(const ClientInfo& info, const UpdateInfoCallback& callback)
{
    // A check asked for while one runs starts nothing, and says so.
    bool idle = false;
    if (!m_checkRunning.compare_exchange_strong(idle, true))
        return EBUSY;
    std::lock_guard<std::mutex> threads(m_threadLock);
    {
        std::lock_guard<std::mutex> lock(m_checkLock);
        m_updateInfoCallback = callback;
        m_clientInfo = info;
    }
    const int error = restartThread(m_checkThread);
    if (error != 0) {
        fprintf(stderr, "%s: create check thread fail\n", "checkUpdate");
        m_checkRunning = false;
    }
    return error;
}

void UpdateServerImpl::checkThreadMain()
{
    ClientInfo client;
    UpdateInfoCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_checkLock);
        client = m_clientInfo;
        callback = m_updateInfoCallback;
    }
    PackageUpdateInfo answer;
    checkUpdateSync(answer, client);
    if (callback)
        callback(answer);
    m_checkRunning = false;
}

int UpdateServerImpl::checkUpdateSync(PackageUpdateInfo& answer, const ClientInfo& info)
{
    answer = PackageUpdateInfo();
    if (info.sn.empty() || info.vid.empty() || info.pid.empty() || info.packageVersions.empty()) {
        answer.result = -1;
        answer.message = "invalid params(sn|vid|pid|packageVersions)";
        fprintf(stderr, "checkUpdate invalid param\n");
        return -1;
    }
    answer.result = -1;
    const std::string body = checkRequestBody(info);
    std::vector<std::string> servers;
    {
        std::lock_guard<std::mutex> lock(m_checkLock);
        m_clientInfo = info;
        servers = m_servers;
    }
    std::string heldServer;
    long long heldMs = 0;
    for (size_t i = 0; i < servers.size() && !m_closing.raised(); ++i) {
        PackageUpdateInfo reply;
        const long long ms = postCheck(servers[i], body, reply);
        // A success beats a failure whichever came first; between successes
        // the quicker one that offers packages wins.
        const bool take = i == 0 || (answer.result != 0 && reply.result == 0)
            || (answer.result == 0 && reply.result == 0 && ms < heldMs && !reply.packages.empty());
        if (take) {
            answer = reply;
            heldMs = ms;
            heldServer = servers[i];
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_checkLock);
        m_baseUrl = heldServer;
    }
    return answer.result;
}

long long UpdateServerImpl::postCheck(const std::string& baseUrl, const std::string& body, PackageUpdateInfo& answer)
{
    const auto start = std::chrono::steady_clock::now();
    answer = PackageUpdateInfo();
    answer.result = -1;
    ProgressState state;
    HttpResult http;
    if (httpPost(state, baseUrl + "/update", body, requestOptions(), http) != 0) {
        fprintf(stderr, "post check date error, %d, response data, (%s)\n", http.code, http.message.c_str());
        reportError(-1, "post check data error");
    } else {
        CheckAnswer parsed;
        std::string why;
        if (!parseCheckAnswer(http.message, parsed, why)) {
            fprintf(stderr, "json parse error\n");
            fprintf(stderr, "check answer of %s refused: %s\n", baseUrl.c_str(), why.c_str());
        } else if (isSuccessCode(parsed.errorCode)) {
            answer.result = 0;
            answer.sessionId = parsed.sessionId;
            answer.packages = parsed.packages;
        } else {
            reportError(parsed.errorCode, parsed.message.empty() ? "unknown error" : parsed.message);
            // A refusal with the code 0 must not read as success.
            answer.result = parsed.errorCode != 0 ? parsed.errorCode : -1;
        }
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

int UpdateServerImpl::download(const DownloadInfo& info, const DownloadResultCallback& resultCallback,
                               const ProgressCallback& progressCallback)
{
    bool idle = false;
    if (!m_downloadRunning.compare_exchange_strong(idle, true))
        return 0;
    std::lock_guard<std::mutex> threads(m_threadLock);
    {
        std::lock_guard<std::mutex> lock(m_downloadLock);
        m_downloadInfo = info;
        m_downloadResultCallback = resultCallback;
        m_progressCallback = progressCallback;
    }
    m_stop.clear();
    const int error = restartThread(m_downloadThread);
    if (error != 0) {
        fprintf(stderr, "%s: download thread create fail, %d\n", "download", error);
        m_downloadRunning = false;
    }
    return error;
}

void UpdateServerImpl::downloadThreadMain()
{
    DownloadInfo info;
    DownloadResultCallback resultCallback;
    ProgressCallback progressCallback;
    {
        std::lock_guard<std::mutex> lock(m_downloadLock);
        info = m_downloadInfo;
        resultCallback = m_downloadResultCallback;
        progressCallback = m_progressCallback;
    }
    const int result = downloadSync(info, progressCallback);
    if (resultCallback)
        resultCallback(result, downloadMessage(result));
    m_downloadRunning = false;
}

int UpdateServerImpl::downloadSync(const DownloadInfo& info, const ProgressCallback& progressCallback)
{
    // The session id goes into a header line: a line break would add lines of its own.
    if (info.vid.empty() || info.pid.empty() || info.sessionId.empty() || info.packages.empty()
        || !isHeaderSafe(info.sessionId)) {
        fprintf(stderr, "invaid param\n");
        return -1;
    }
    // Two packages written to one file: the later would replace the earlier
    // while both are reported as downloaded.
    std::set<std::string> paths;
    for (const PackageInfo& package : info.packages) {
        if (!package.path.empty() && !paths.insert(package.path).second) {
            fprintf(stderr, "invaid param: two packages share the path %s\n", package.path.c_str());
            return -1;
        }
    }
    DownloadLimits limits;
    {
        std::lock_guard<std::mutex> lock(m_downloadLock);
        m_downloadInfo = info;
        m_progressCallback = progressCallback;
        limits = m_limits;
    }
    HttpOptions options = requestOptions();
    options.timeout = limits.attemptSeconds;
    options.retries = limits.attempts;
    options.totalTimeout = limits.packageSeconds;
    options.maxBytes = limits.maxPackageBytes;
    options.reserveBytes = limits.reserveBytes;
    options.cookie = "SessionID=" + info.sessionId;
    options.stop = &m_stop;
    int result = -1;
    for (const PackageInfo& package : info.packages) {
        result = downloadPackage(package, options, progressCallback);
        feedback(info, package, result);
        if (result != 0)
            break;
    }
    return result;
}

int UpdateServerImpl::downloadPackage(const PackageInfo& package, HttpOptions options,
                                      const ProgressCallback& progress)
{
    ProgressContext context = {this, package.type, &progress};
    options.progress = &UpdateServerImpl::progressForType;
    options.progressData = &context;
    options.md5 = package.md5;
    HttpResult http;
    int result = -1;
    if (packageFileName(package.url).empty()) {
        http.message = "unsafe package url";
    } else if (package.md5.empty()) {
        http.message = "package without md5";
    } else {
        ProgressState state;
        result = downloadFile(state, package.url, package.path, options, http);
    }
    if (result < 0 || (result == 0 && !isSuccessCode(http.code))) {
        result = -1;
        reportError(-1, http.message);
        fprintf(stderr, "download url (%s) error, %s\n", package.url.c_str(), http.message.c_str());
    } else if (result == 1) {
        printf("download cancelled\n");
    }
    return result;
}

int UpdateServerImpl::progressForType(void* data, double total, double now)
{
    ProgressContext* context = static_cast<ProgressContext*>(data);
    if (*context->callback)
        (*context->callback)(context->type, total, now);
    return context->self->m_stop.raised() ? 1 : 0;
}

void UpdateServerImpl::feedback(const DownloadInfo& info, const PackageInfo& package, int result)
{
    std::string baseUrl;
    ClientInfo client;
    {
        std::lock_guard<std::mutex> lock(m_checkLock);
        baseUrl = m_baseUrl;
        client = m_clientInfo;
    }
    if (baseUrl.empty()) {
        fprintf(stderr, "%s: no check has answered, no server to tell\n", "feedback");
        return;
    }
    FeedbackFields fields;
    fields.vid = info.vid;
    fields.pid = info.pid;
    fields.type = package.type;
    fields.version = package.version;
    fields.result = result;
    HttpOptions options = requestOptions();
    options.cookie = "SessionID=" + info.sessionId;
    ProgressState state;
    HttpResult http;
    if (httpPost(state, baseUrl + "/download/feedback", feedbackBody(fields, client), options, http) != 0) {
        fprintf(stderr, "%s: post download feedback date error, %d\n", "feedback", http.code);
        reportError(-1, "post download feedfack data error");
        return;
    }
    ServiceAnswer answer;
    std::string why;
    if (!parseServiceAnswer(http.message, answer, why)) {
        fprintf(stderr, "%s: json parse error\n", "feedback");
        return;
    }
    if (!isSuccessCode(answer.errorCode)) {
        fprintf(stderr, "%s: post feedback error, %d\n", "feedback", answer.errorCode);
        reportError(answer.errorCode, answer.message.empty() ? "feedback unknown error" : answer.message);
    }
}

int UpdateServerImpl::stopDownload()
{
    m_stop.raise();
    return 0;
}

} // namespace nvupserver
