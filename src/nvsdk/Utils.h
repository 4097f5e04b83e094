#pragma once

#include <pthread.h>

#include <cstddef>
#include <string>
#include <vector>

namespace nvsdk {

// Thread, process, string and path helpers of the support library.
class Utils
{
public:
    Utils() = delete;

    // Starts a joinable thread with the given stack size (the default size
    // when that cannot be set): the result of pthread_create.
    static int createThread(pthread_t* id, void* (*routine)(void*), void* arg, size_t stackSize);
    // Whether a thread started by createThread is still running. Other
    // threads, and 0, are never alive here.
    static bool isThreadAlive(pthread_t id);

    // Kills (SIGKILL) every process of that name: 0, or the negative errno
    // of the last kill that failed. Under a scratch root only processes
    // started by this one are touched.
    static int killProcessByName(const std::string& name);
    // Runs a command line through the shell seam and drops its output: 0
    // when it exited with 0 (also for an empty command), else -1.
    static int system(const std::string& command);

    static std::string trimLeft(const std::string& text);
    static std::string trimRight(const std::string& text);
    static std::string trim(const std::string& text);
    static std::string toUpper(const std::string& text);
    static std::string toLower(const std::string& text);
    // The words between runs of white space.
    static std::vector<std::string> split(const std::string& text);
    // The pieces between matches of a regular expression, trimmed; empty
    // pieces only when `keepEmpty`. Matches of no characters do not split.
    // A bad expression gives no piece.
    static std::vector<std::string> regexSplit(const std::string& text, const std::string& expression,
                                               bool keepEmpty);

    static std::string joinPath(const std::string& dir, const std::string& name);
    // With `caseSensitive` clear, letters are compared after tolower.
    static bool startsWith(const std::string& text, const std::string& prefix, bool caseSensitive = true);
    static bool endsWith(const std::string& text, const std::string& suffix, bool caseSensitive = true);
};

} // namespace nvsdk
