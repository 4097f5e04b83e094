#pragma once

#include <string>
#include <vector>

class StopSignal;

// HTTPS requests of the update client, on libcurl's easy interface.
namespace nvupserver {

typedef int (*ProgressFunction)(void* data, double total, double now);

struct HttpOptions
{
    int timeout = 0; // seconds for the whole transfer; 0 or less: none
    bool put = false;
    std::string cookie;
    std::vector<std::string> headers;
    int retries = 1;  // attempts of a download, each counted
    // Seconds for all attempts of a download and the pauses between them; 0 or less: none.
    int totalTimeout = 0;
    // A download whose file would grow beyond this many bytes is stopped; 0: no bound.
    long long maxBytes = 0;
    // Bytes a download leaves free on the file system it writes to.
    long long reserveBytes = 0;
    ProgressFunction progress = nullptr;
    void* progressData = nullptr;
    // Certificate authorities to trust; empty: the system's.
    std::string caFile;
    // Seen at every progress report, also while no bytes arrive.
    StopSignal* stop = nullptr;
    // Hexadecimal digest a downloaded file must have; empty: not checked.
    std::string md5;
};

struct HttpResult
{
    int code = 200;
    std::string message;
};

// Per transfer: what the partial file held when the attempt began and the
// largest count the current attempt reported.
struct ProgressState
{
    double offset = 0;
    double lastNow = 0;
    ProgressFunction progress = nullptr;
    void* progressData = nullptr;
    StopSignal* stop = nullptr;
};

// False for text with a line break or NUL: as a header or cookie it would add lines of its own.
bool isHeaderSafe(const std::string& text);

// Answers are read into memory up to this size; a larger one fails the request.
const size_t kMaxAnswerBytes = 1024 * 1024;

// 0 with the body in result.message, -1 on a failed transfer (message: why).
int httpPost(ProgressState& state, const std::string& url, const std::string& body, const HttpOptions& options,
             HttpResult& result);
int httpGet(const std::string& url, const HttpOptions& options, HttpResult& result);

// Fetches url into path through path + ".part", resuming what that file holds.
// 0: the transfer completed (result.code tells the status; only a 2xx answer,
// verified against options.md5, ends up at path), 1: stopped, -1: failed (also
// when the file would pass options.maxBytes, the length the server announced,
// or the room left above options.reserveBytes).
int downloadFile(ProgressState& state, const std::string& url, const std::string& path, const HttpOptions& options,
                 HttpResult& result);

} // namespace nvupserver
