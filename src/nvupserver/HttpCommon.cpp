#include "nvupserver/HttpCommon.h"

#include "base/threads/StopSignal.h"

#include <sys/socket.h>

#include <mutex>

namespace nvupserver {
namespace detail {

namespace {

// Reports new bytes of the current attempt; any report, even one without new
// bytes (the library calls at least once a second), can end the transfer.
int progressHook(void* data, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t)
{
    ProgressState* state = static_cast<ProgressState*>(data);
    if (state->stop && state->stop->raised())
        return 1;
    if (total <= 0 && now <= 0)
        return 0;
    if (now <= state->lastNow)
        return 0;
    state->lastNow = static_cast<double>(now);
    if (!state->progress)
        return 0;
    return state->progress(state->progressData, state->offset + static_cast<double>(total),
                           state->offset + static_cast<double>(now));
}

// The connection's socket, made close-on-exec at once: a program the printer
// starts meanwhile must not hold the package's connection.
curl_socket_t openSocket(void*, curlsocktype, curl_sockaddr* address)
{
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

} // namespace

} // namespace detail

bool isHeaderSafe(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

namespace detail {

CurlHandle newHandle()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return CurlHandle(curl_easy_init());
}

bool applyCommon(CURL* curl, const std::string& url, const HttpOptions& options, ProgressState* state,
                 HeaderList& headers, char* errorBuffer, std::string& why)
{
    if (!isHeaderSafe(options.cookie)) {
        why = "cookie with a line break refused";
        return false;
    }
    for (const std::string& line : options.headers) {
        if (!isHeaderSafe(line)) {
            why = "header with a line break refused";
            return false;
        }
        if (!line.empty())
            headers.reset(curl_slist_append(headers.release(), line.c_str()));
    }
    // A header line rather than CURLOPT_COOKIE: libcurl passes that option on
    // to every host a redirect names, but leaves a Cookie line out when a
    // redirect leads to another host, port or scheme. The session id stays
    // with the server it was meant for.
    if (!options.cookie.empty())
        headers.reset(curl_slist_append(headers.release(), ("Cookie: " + options.cookie).c_str()));
    errorBuffer[0] = '\0';
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, openSocket);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
    if (options.timeout > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(options.timeout));
    if (headers)
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    if (state && (state->progress || state->stop)) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progressHook);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, state);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    return true;
}

int responseCode(CURL* curl)
{
    long code = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
        return 200;
    return static_cast<int>(code);
}

std::string errorText(CURLcode code, const char* errorBuffer)
{
    return errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(code));
}

} // namespace detail
} // namespace nvupserver
