#pragma once

#include "nvsdk/LogWrite.h"

#include <memory>
#include <mutex>
#include <string>

namespace nvsdk {

// The support library's process-wide logger. Until initLog() gives it a
// writer, lines of level 1 and above go to standard output only.
class Logger
{
public:
    static Logger* instance();

    // Formats the message (cut to 1023 bytes) and writes it as text: 0 or the
    // writer's error; -1 without a writer.
    int log(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int log(int level, const std::string& message);
    // Closes the writer's file: 0, or -1 when there is no writer.
    int close();

    // Puts a writer in place of the current one. The old one is closed once
    // no thread is writing through it any more.
    void setWriter(std::shared_ptr<LogWrite> writer);

private:
    Logger() = default;
    std::shared_ptr<LogWrite> writer() const;

    mutable std::mutex m_lock; // guards the pointer, not the writing
    std::shared_ptr<LogWrite> m_writer;
};

// Gives the logger a new writer for "<dir>/<name>.log" (a board path):
// the result of LogWrite::init.
int initLog(const std::string& dir, const std::string& name, int level, int maxSize, int fileCount, bool console);

} // namespace nvsdk
