#include "nvupserver/HttpCommon.h"

#include <cstdio>

namespace nvupserver {

using namespace detail;

namespace {

struct MemorySink
{
    std::string body;
    bool tooLarge = false;
};

size_t memoryWriter(char* data, size_t size, size_t count, void* user)
{
    MemorySink* sink = static_cast<MemorySink*>(user);
    const size_t bytes = size * count;
    if (bytes > kMaxAnswerBytes - sink->body.size()) {
        sink->tooLarge = true;
        return 0;
    }
    sink->body.append(data, bytes);
    return bytes;
}

// A POST (body given) or a GET whose answer is collected in memory.
int requestToMemory(ProgressState* state, const std::string& url, const std::string* body,
                    const HttpOptions& options, HttpResult& result, const char* initFailure,
                    const char* failureFormat)
{
    result = HttpResult();
    CurlHandle curl = newHandle();
    if (!curl) {
        printf("%s\n", initFailure);
        result.message = initFailure;
        return -1;
    }
    HeaderList headers;
    char errorBuffer[CURL_ERROR_SIZE];
    if (!applyCommon(curl.get(), url, options, state, headers, errorBuffer, result.message))
        return -1;
    MemorySink sink;
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, memoryWriter);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    if (body) {
        if (options.put)
            curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    } else {
        curl_easy_setopt(curl.get(), CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    }
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK || sink.body.empty()) {
        printf(failureFormat, static_cast<int>(code));
        result.message = sink.tooLarge ? "answer larger than 1 MiB"
                                       : (code != CURLE_OK ? errorText(code, errorBuffer) : "empty answer");
        return -1;
    }
    result.message.swap(sink.body);
    result.code = responseCode(curl.get());
    return 0;
}

} // namespace

int httpPost(ProgressState& state, const std::string& url, const std::string& body, const HttpOptions& options,
             HttpResult& result)
{
    state.progress = options.progress;
    state.progressData = options.progressData;
    state.stop = options.stop;
    return requestToMemory(&state, url, &body, options, result, "curl_easy_init failed", "post failed: %d\n");
}

int httpGet(const std::string& url, const HttpOptions& options, HttpResult& result)
{
    ProgressState state;
    state.progress = options.progress;
    state.progressData = options.progressData;
    state.stop = options.stop;
    return requestToMemory(&state, url, nullptr, options, result, "curl_easy_init fail", "get failed: %d\n");
}

} // namespace nvupserver
