#pragma once

#include "base/log/RotatingFile.h"

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

class QString;

// Log levels, lowest first; lines below the configured level are dropped.
enum : int { LogDebug = 0, LogInfo = 1, LogWarn = 2, LogError = 3, LogTest = 4 };
typedef int LogLevel;

// The process log: one time-stamped line per write, appended to a file in the
// log directory that rotates by size into numbered files (1 is the newest).
// Every thread writes through the one instance.
class LogWriter
{
public:
    static LogWriter* instance();

    // Opens the log; throws std::runtime_error when the directory cannot be
    // made or written, or the file cannot be opened. `dir` is a board path.
    // Lines written before the first init (the configuration loads first, to
    // learn the level) are kept and follow its first line, when their level
    // passes.
    int init(const std::string& dir, const std::string& name, int level, int maxSize, int maxFiles,
             bool console);

    // Each returns 0 when the level is filtered out, 1 when the line reached
    // the file, 0 when writing failed or the log is not open yet and a
    // negative errno when rotation failed. Control characters of the message
    // are escaped (base/LogEscape.h): one write is one line.
    int write(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int write(int level, const std::string& message);
    int write(int level, const QString& message);

    static const char* levelName(int level);
    bool isEnabled(int level) const { return level >= m_level.load(std::memory_order_relaxed); }

    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

private:
    LogWriter();
    ~LogWriter() = delete; // lives to the very end: late writers from other threads stay safe
    static void closeAtExit();

    static void checkDir(const std::string& dir);
    void reportFault() const;
    static size_t makePrefix(char* buffer, int level);
    int writeText(int level, const char* text, size_t length);
    int append(int level, const char* line, size_t length);
    void writeEarlyLines();

    std::atomic<int> m_level{1};
    // A file moved or removed from outside is noticed within this time.
    RotatingFile m_file{100};
    bool m_console = false;
    pthread_mutex_t m_mutex;

    bool m_closed = false; // set at exit; later lines are dropped

    struct EarlyLine
    {
        int level;
        std::string text;
    };
    std::vector<EarlyLine> m_early; // written before the first init
    size_t m_earlyDropped = 0;
};

// The process log, the one way to reach it.
inline LogWriter* logger()
{
    return LogWriter::instance();
}

// Logs a failed internal check: the operation's full signature and a line
// number, as "<signature>: H <line>".
void logCheck(const char* signature, int line, int level = LogInfo);
