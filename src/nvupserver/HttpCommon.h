#pragma once

#include "nvupserver/Http.h"

#include <curl/curl.h>

#include <memory>
#include <string>

// What every request of the update client sets up the same way.
namespace nvupserver {
namespace detail {

struct CurlDeleter
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
typedef std::unique_ptr<CURL, CurlDeleter> CurlHandle;
typedef std::unique_ptr<curl_slist, CurlDeleter> HeaderList;

// curl_global_init exactly once, whichever thread asks first.
CurlHandle newHandle();

// URL, TLS verification against options.caFile, https only (also across
// redirects), no signals, close-on-exec sockets, the time-out, the header lines, the cookie (never
// sent on to another host by a redirect) and the progress hook. False with the reason when a header or the cookie carries a
// line break (it would smuggle header lines into the request).
bool applyCommon(CURL* curl, const std::string& url, const HttpOptions& options, ProgressState* state,
                 HeaderList& headers, char* errorBuffer, std::string& why);

// The response status; 200 when it cannot be read.
int responseCode(CURL* curl);

// The library's text for a failed transfer.
std::string errorText(CURLcode code, const char* errorBuffer);

} // namespace detail
} // namespace nvupserver
