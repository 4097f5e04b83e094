#include "nvupserver/HttpCommon.h"
#include "nvupserver/Md5Pipeline.h"
#include "nvupserver/StopFlag.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace nvupserver {

using namespace detail;

namespace {

const size_t kWritebackBytes = 8u << 20;

bool isSuccessStatus(int code)
{
    return code >= 200 && code < 300;
}

struct FileSink
{
    FILE* file = nullptr;
    CURL* curl = nullptr;
    bool checked = false;
    bool refused = false; // the answer is not 2xx: its body is no package
    curl_off_t written = 0;
    size_t unsynced = 0;
    // Fed as the bytes arrive, so the finished file needs no second read.
    Md5Pipeline* digest = nullptr;
    long long* hashed = nullptr;
};

size_t fileWriter(char* data, size_t size, size_t count, void* user)
{
    FileSink* sink = static_cast<FileSink*>(user);
    if (!sink->checked) {
        sink->checked = true;
        sink->refused = !isSuccessStatus(responseCode(sink->curl));
    }
    if (sink->refused)
        return 0;
    const size_t bytes = size * count;
    if (fwrite(data, 1, bytes, sink->file) != bytes) {
        printf("save download file failed: %d\n", ferror(sink->file));
        return 0;
    }
    sink->written += static_cast<curl_off_t>(bytes);
    sink->unsynced += bytes;
    if (sink->unsynced >= kWritebackBytes && fflush(sink->file) == 0) {
        // Start writing back now, so the flush before the rename has little left to wait for.
        sync_file_range(fileno(sink->file), 0, 0, SYNC_FILE_RANGE_WRITE);
        sink->unsynced = 0;
    }
    if (sink->digest) {
        sink->digest->add(data, bytes);
        *sink->hashed += static_cast<long long>(bytes);
    }
    return bytes;
}

// The whole length from "Content-Range: bytes */N" of the last answer, or -1.
size_t rangeHeaderReader(char* data, size_t size, size_t count, void* user)
{
    long long* total = static_cast<long long*>(user);
    const size_t bytes = size * count;
    const std::string line(data, bytes);
    if (line.compare(0, 5, "HTTP/") == 0) {
        *total = -1;
    } else if (strncasecmp(line.c_str(), "content-range:", 14) == 0) {
        const size_t slash = line.find('/');
        if (slash != std::string::npos) {
            char* end = nullptr;
            const long long value = strtoll(line.c_str() + slash + 1, &end, 10);
            if (end != line.c_str() + slash + 1 && value >= 0)
                *total = value;
        }
    }
    return bytes;
}

// Failures another attempt cannot mend: a refused scheme or redirect, a
// certificate that does not verify, a file that cannot be written.
bool isPermanent(CURLcode code)
{
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_WRITE_ERROR:
        return true;
    default:
        return false;
    }
}

curl_off_t fileLength(FILE* file)
{
    if (fflush(file) != 0 || fseeko(file, 0, SEEK_END) != 0)
        return -1;
    return ftello(file);
}

// Pauses grow while attempts bring nothing, so a dead server is not hammered;
// true when a stop arrived meanwhile.
bool pauseBeforeRetry(StopFlag* stop, int idleStreak)
{
    const int ms = idleStreak == 0 ? 50 : std::min(250 << std::min(idleStreak - 1, 5), 8000);
    if (stop)
        return stop->waitFor(ms);
    usleep(static_cast<useconds_t>(ms) * 1000);
    return false;
}

struct Attempt
{
    CURLcode code = CURLE_OK;
    int status = 200;
    long long rangeTotal = -1;
    std::string error;
};

// One GET of the bytes from `offset` on, appended to the sink's file. False
// (why in `why`) when the transfer could not even be set up.
bool performAttempt(const std::string& url, const HttpOptions& options, curl_off_t offset, ProgressState& state,
                    FileSink& sink, Attempt& attempt, std::string& why)
{
    CurlHandle curl = newHandle();
    if (!curl) {
        printf("crul_easy_init fail\n");
        why = "curl_easy_init failed";
        return false;
    }
    HeaderList headers;
    char errorBuffer[CURL_ERROR_SIZE];
    if (!applyCommon(curl.get(), url, options, &state, headers, errorBuffer, why))
        return false;
    sink.curl = curl.get();
    curl_easy_setopt(curl.get(), CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, fileWriter);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, rangeHeaderReader);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &attempt.rangeTotal);
    curl_easy_setopt(curl.get(), CURLOPT_RESUME_FROM_LARGE, offset);
    // Larger blocks: fewer writes and callbacks on a large package.
    curl_easy_setopt(curl.get(), CURLOPT_BUFFERSIZE, 512L * 1024);
    // Each attempt reports its own counts on top of what the file held.
    state.offset = static_cast<double>(offset);
    state.lastNow = 0;
    attempt.code = curl_easy_perform(curl.get());
    attempt.status = responseCode(curl.get());
    if (attempt.code != CURLE_OK)
        attempt.error = errorText(attempt.code, errorBuffer);
    sink.curl = nullptr;
    return true;
}

// Moves a verified partial file into place.
int finishFile(const std::string& partPath, const std::string& path, const HttpOptions& options,
               Md5Pipeline* digest, HttpResult& result)
{
    if (digest) {
        const std::string actual = digest->digest().hex();
        if (actual.empty()) {
            result.message = "cannot digest the downloaded file";
            return -1;
        }
        if (!sameDigest(actual, options.md5)) {
            result.message = "md5 mismatch, expected " + options.md5 + ", got " + actual;
            printf("%s\n", result.message.c_str());
            return -1;
        }
    }
    if (remove(path.c_str()) != 0 && errno != ENOENT) {
        result.message = std::string("cannot replace ") + path + ": " + strerror(errno);
        return -1;
    }
    if (rename(partPath.c_str(), path.c_str()) != 0) {
        result.message = std::string("cannot rename ") + partPath + ": " + strerror(errno);
        return -1;
    }
    return 0;
}

} // namespace

int downloadFile(ProgressState& state, const std::string& url, const std::string& path, const HttpOptions& options,
                 HttpResult& result)
{
    result = HttpResult();
    const std::string partPath = path + ".part";
    FILE* file = fopen(partPath.c_str(), "ab");
    if (!file) {
        printf("fopen file (%s) fail\n", partPath.c_str());
        result.message = std::string("cannot open ") + partPath + ": " + strerror(errno);
        return -1;
    }
    state = ProgressState();
    state.progress = options.progress;
    state.progressData = options.progressData;
    state.stop = options.stop;

    // Only attempts that brought no byte count toward the limit; the overall
    // cap keeps a server that trickles a byte per attempt from going on forever.
    const int limit = std::max(options.retries, 1);
    int idleAttempts = 0;
    int idleStreak = 0;
    int attempts = 0;
    bool restarted = false;
    int ret = -1;
    std::unique_ptr<Md5Pipeline> digest;
    if (!options.md5.empty())
        digest.reset(new Md5Pipeline);
    long long hashed = 0;
    for (;;) {
        ++attempts;
        const curl_off_t offset = fileLength(file);
        if (offset < 0) {
            printf("ftell error\n");
            result.message = "cannot read the length of the partial file";
            break;
        }
        // The digest covers exactly the bytes on disk; after a truncation or a
        // short write it starts again from the file.
        if (digest && hashed != offset) {
            if (!digest->digest().resetToFile(partPath, offset)) {
                result.message = "cannot read the partial file " + partPath;
                break;
            }
            hashed = offset;
        }
        FileSink sink;
        sink.file = file;
        sink.digest = digest.get();
        sink.hashed = &hashed;
        Attempt attempt;
        if (!performAttempt(url, options, offset, state, sink, attempt, result.message))
            break;
        const CURLcode code = attempt.code;
        if (code == CURLE_OK || sink.refused) {
            ret = 0;
            result.code = attempt.status;
            // A partial file that already holds the whole package is complete.
            if (result.code == 416 && offset > 0 && attempt.rangeTotal == offset)
                result.code = 200;
            break;
        }
        if (code == CURLE_ABORTED_BY_CALLBACK) {
            ret = 1;
            break;
        }
        if (code == CURLE_RANGE_ERROR && offset > 0 && !restarted) {
            // The server sends the whole file whatever range is asked for.
            printf("server ignores the range, download restarts from byte 0\n");
            restarted = true;
            if (fflush(file) != 0 || ftruncate(fileno(file), 0) != 0) {
                result.message = std::string("cannot truncate ") + partPath + ": " + strerror(errno);
                break;
            }
            continue;
        }
        result.message = attempt.error;
        if (isPermanent(code)) {
            printf("download failed: %d, %s\n", static_cast<int>(code), result.message.c_str());
            break;
        }
        printf("download failed: %d, will try again\n", static_cast<int>(code));
        if (sink.written > 0) {
            idleStreak = 0;
        } else {
            ++idleAttempts;
            ++idleStreak;
        }
        if (idleAttempts >= limit || attempts >= limit * 10)
            break;
        if (pauseBeforeRetry(options.stop, idleStreak)) {
            ret = 1;
            break;
        }
    }
    if (ret == 1) {
        result.message = "download aborted by callback";
        printf("%s\n", result.message.c_str());
    }

    // On disk before it can be renamed into place.
    const bool flushed = fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = fclose(file) == 0;
    if (ret == 0 && !(flushed && closed)) {
        ret = -1;
        result.message = std::string("cannot write ") + partPath;
    }
    if (ret == 0 && isSuccessStatus(result.code))
        ret = finishFile(partPath, path, options, digest.get(), result);
    else if (ret == 0)
        result.message = "server answered " + std::to_string(result.code);
    if (ret != 0 || !isSuccessStatus(result.code))
        remove(partPath.c_str());
    return ret;
}

} // namespace nvupserver
