#include "nvupserver/HttpCommon.h"
#include "nvupserver/Md5.h"

#include "base/platform/Clock.h"
#include "base/threads/StopSignal.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nvupserver {

using namespace detail;

namespace {

const size_t kWritebackBytes = 8u << 20;
const mode_t kPackageMode = 0644;

bool isSuccessStatus(int code)
{
    return code >= 200 && code < 300;
}

// How many bytes an attempt may append; -1 where a bound does not apply.
struct Bounds
{
    curl_off_t room = -1;      // before the file system's reserve is reached
    curl_off_t sizeLeft = -1;  // before the file passes the largest package allowed
    curl_off_t announced = -1; // the length the answer announced
    long long maxBytes = 0;
    std::string folder;

    // Empty when `total` bytes of this attempt stay within every bound, else why not.
    std::string exceededBy(curl_off_t total) const
    {
        if (announced >= 0 && total > announced)
            return "the server sent more than the " + std::to_string(announced) + " bytes it announced";
        if (sizeLeft >= 0 && total > sizeLeft)
            return "package larger than " + std::to_string(maxBytes) + " bytes";
        if (room >= 0 && total > room)
            return "not enough room for the package in " + folder;
        return std::string();
    }
};

struct FileSink
{
    FILE* file = nullptr;
    CURL* curl = nullptr;
    bool checked = false;
    bool refused = false; // the answer is not 2xx: its body is no package
    Bounds bounds;
    std::string overflow; // why the transfer was stopped for its size
    curl_off_t written = 0;
    size_t unsynced = 0;
};

size_t fileWriter(char* data, size_t size, size_t count, void* user)
{
    FileSink* sink = static_cast<FileSink*>(user);
    const size_t bytes = size * count;
    if (!sink->checked) {
        sink->checked = true;
        sink->refused = !isSuccessStatus(responseCode(sink->curl));
        curl_off_t announced = -1;
        if (!sink->refused && curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK
            && announced >= 0) {
            // A package that cannot fit is refused before any byte of it is written.
            sink->overflow = sink->bounds.exceededBy(announced);
            sink->bounds.announced = announced;
        }
    }
    if (sink->refused || !sink->overflow.empty())
        return 0;
    sink->overflow = sink->bounds.exceededBy(sink->written + static_cast<curl_off_t>(bytes));
    if (!sink->overflow.empty())
        return 0;
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

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Bytes that may still be written to `folder` before only `reserve` is left
// free (0 or less: none); false with the reason when it cannot be told.
bool roomIn(const std::string& folder, long long reserve, curl_off_t& room, std::string& why)
{
    struct statvfs fs;
    if (statvfs(folder.c_str(), &fs) != 0) {
        why = "cannot read the free space of " + folder + ": " + strerror(errno);
        return false;
    }
    const long long available = static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
    room = available - reserve;
    if (room <= 0)
        why = "not enough room in " + folder + ": " + std::to_string(available) + " bytes free, "
            + std::to_string(reserve) + " kept free";
    return true;
}

typedef std::chrono::steady_clock SteadyClock;

// Milliseconds left until `deadline`; a large number when there is none.
long long msLeft(const SteadyClock::time_point* deadline)
{
    if (!deadline)
        return 1LL << 40;
    return std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - SteadyClock::now()).count();
}

// Pauses grow while attempts bring nothing, so a dead server is not hammered,
// and end by maxMs; true when a stop arrived meanwhile.
bool pauseBeforeRetry(StopSignal* stop, int idleStreak, long long maxMs)
{
    const long long grown = idleStreak == 0 ? 50 : std::min(250 << std::min(idleStreak - 1, 5), 8000);
    const int ms = static_cast<int>(std::max(0LL, std::min(grown, maxMs)));
    // Real time: the server and the network do not follow the machine clock.
    if (stop)
        return !stop->sleepUntil(kernelDeadlineAfterMs(ms));
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
bool performAttempt(const std::string& url, const HttpOptions& options, curl_off_t offset, long long timeoutMs,
                    ProgressState& state, FileSink& sink, Attempt& attempt, std::string& why)
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
    if (timeoutMs > 0)
        curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(std::min<long long>(timeoutMs, LONG_MAX)));
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

// Moves the partial file into place once what lies on disk is the package:
// `length` bytes (what the file held before the last attempt and what that
// attempt wrote) with the digest asked for. The file is read back rather than
// trusting the bytes as they arrived, since another writer may have changed it.
int finishFile(const std::string& partPath, const std::string& path, const HttpOptions& options, long long length,
               HttpResult& result)
{
    const int fd = open(partPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat info{};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.message = std::string("cannot read back ") + partPath + ": " + strerror(fd < 0 ? errno : EINVAL);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    std::string actual;
    long long digested = info.st_size;
    const bool read = options.md5.empty() || descriptorMd5Hex(fd, actual, digested);
    close(fd);
    if (!read) {
        result.message = "cannot digest the downloaded file";
        return -1;
    }
    if (info.st_size != length || digested != length) {
        result.message = "the downloaded file holds " + std::to_string(digested) + " bytes, not the "
            + std::to_string(length) + " received";
        printf("%s\n", result.message.c_str());
        return -1;
    }
    if (!options.md5.empty() && !sameDigest(actual, options.md5)) {
        result.message = "md5 mismatch, expected " + options.md5 + ", got " + actual;
        printf("%s\n", result.message.c_str());
        return -1;
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

// The partial file, to append to. It is the package once renamed: whatever
// the umask, only its owner may write it (the rename keeps the mode), and a
// link in its place is not followed. Null with errno set.
FILE* openPartFile(const std::string& partPath)
{
    const int fd = open(partPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPackageMode);
    if (fd < 0)
        return nullptr;
    FILE* file = fchmod(fd, kPackageMode) == 0 ? fdopen(fd, "a") : nullptr;
    if (!file) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

} // namespace

int downloadFile(ProgressState& state, const std::string& url, const std::string& path, const HttpOptions& options,
                 HttpResult& result)
{
    result = HttpResult();
    const std::string partPath = path + ".part";
    // Close-on-exec: a program started meanwhile must not be able to write it.
    FILE* file = openPartFile(partPath);
    if (!file) {
        printf("fopen file (%s) fail\n", partPath.c_str());
        result.message = std::string("cannot open ") + partPath + ": " + strerror(errno);
        return -1;
    }
    state = ProgressState();
    state.progress = options.progress;
    state.progressData = options.progressData;
    state.stop = options.stop;

    // Every attempt counts, also one that brought bytes: a server that trickles
    // a few bytes per attempt must not keep the download going for hours.
    const int limit = std::max(options.retries, 1);
    SteadyClock::time_point deadline;
    if (options.totalTimeout > 0)
        deadline = SteadyClock::now() + std::chrono::seconds(options.totalTimeout);
    const SteadyClock::time_point* until = options.totalTimeout > 0 ? &deadline : nullptr;
    const std::string folder = folderOf(path);
    int idleStreak = 0;
    int attempts = 0;
    bool restarted = false;
    int ret = -1;
    long long received = 0; // what the file should hold when the transfer completes
    for (;;) {
        ++attempts;
        const curl_off_t offset = fileLength(file);
        if (offset < 0) {
            printf("ftell error\n");
            result.message = "cannot read the length of the partial file";
            break;
        }
        const long long timeLeft = msLeft(until);
        if (timeLeft <= 0) {
            result.message = "the time for the package ran out"
                + (result.message.empty() ? std::string() : ": " + result.message);
            printf("download failed: %s\n", result.message.c_str());
            break;
        }
        FileSink sink;
        sink.file = file;
        // What this attempt may add: checked before it starts, and against what the answer announces.
        sink.bounds.folder = folder;
        sink.bounds.maxBytes = options.maxBytes;
        if (options.maxBytes > 0)
            sink.bounds.sizeLeft = std::max<curl_off_t>(options.maxBytes - offset, 0);
        std::string noRoom;
        if (!roomIn(folder, options.reserveBytes, sink.bounds.room, noRoom) || !noRoom.empty()) {
            result.message = noRoom;
            printf("download refused: %s\n", noRoom.c_str());
            break;
        }
        // The attempt's own bound, cut to what is left of the package's time (0: none).
        long long attemptMs = options.timeout > 0 ? options.timeout * 1000LL : 0;
        if (until)
            attemptMs = attemptMs > 0 ? std::min(attemptMs, timeLeft) : timeLeft;
        Attempt attempt;
        if (!performAttempt(url, options, offset, attemptMs, state, sink, attempt, result.message))
            break;
        const CURLcode code = attempt.code;
        if (!sink.overflow.empty()) {
            result.message = sink.overflow;
            printf("download stopped: %s\n", result.message.c_str());
            break;
        }
        if (code == CURLE_OK || sink.refused) {
            ret = 0;
            received = static_cast<long long>(offset + sink.written);
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
        if (attempts >= limit) {
            printf("download failed: %d, no attempt left of %d\n", static_cast<int>(code), limit);
            break;
        }
        printf("download failed: %d, will try again\n", static_cast<int>(code));
        idleStreak = sink.written > 0 ? 0 : idleStreak + 1;
        if (pauseBeforeRetry(options.stop, idleStreak, msLeft(until))) {
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
        ret = finishFile(partPath, path, options, received, result);
    else if (ret == 0)
        result.message = "server answered " + std::to_string(result.code);
    if (ret != 0 || !isSuccessStatus(result.code))
        remove(partPath.c_str());
    return ret;
}

} // namespace nvupserver
