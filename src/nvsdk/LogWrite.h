#pragma once

#include "base/log/RotatingFile.h"
#include "nvsdk/Mutex.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace nvsdk {

// The support library's log file: one line per write, "[LEVEL] " and the
// text, rotating by size into numbered files (1 the newest). Lines of
// different threads never mix. Callers end their lines with "\n"; other
// control characters of a message are escaped (base/LogEscape.h). A file
// moved or removed from outside is noticed at the next line and made anew.
class LogWrite
{
public:
    LogWrite();
    ~LogWrite();
    LogWrite(const LogWrite&) = delete;
    LogWrite& operator=(const LogWrite&) = delete;

    // Opens "<dir>/<name>.log" (a board path), moving an earlier file aside:
    // 0 or a negative errno. `fileCount` counts the current file too.
    int init(const std::string& dir, const std::string& name, int level, int maxSize, int fileCount,
             bool console);

    // A line below the writer's level is dropped (0). Else 0, or the
    // negative errno of a failed rotation or open. Lines are cut to 1023 bytes.
    int write(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // The message is taken as it is, never as a format.
    int write(int level, const std::string& message);

    // Closes the current file; the next line opens it again.
    void close();

    static const char* levelName(int level);

private:
    size_t startLine(int level);
    size_t escapeMessage(size_t prefix, size_t length);
    int append(size_t length);
    void reportRotationFault() const;
    static void checkDir(const std::string& dir);

    std::atomic<int> m_level{1};
    bool m_console = true;
    // Looks at its path at every line: a move is noticed at the next one.
    RotatingFile m_file{0};
    char m_line[1024];
    Mutex m_lock;
};

} // namespace nvsdk
