#include "base/log/LogWriter.h"

#include "base/log/LogEscape.h"
#include "base/log/RootPath.h"

#include <QString>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr size_t kLineLimit = 1023; // bytes of a formatted line, newline included
constexpr size_t kEarlyLineLimit = 256; // lines kept until the log opens

// The only thread-local object of the process: each thread builds its lines here.
thread_local char t_line[kLineLimit + 1];

// Holds the log lock with cancellation off, so a thread cancelled while it
// writes can never leave the lock held or a line half written.
class AppendGuard
{
public:
    explicit AppendGuard(pthread_mutex_t& mutex) : m_mutex(mutex)
    {
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_cancelState);
        pthread_mutex_lock(&m_mutex);
    }
    ~AppendGuard()
    {
        pthread_mutex_unlock(&m_mutex);
        pthread_setcancelstate(m_cancelState, nullptr);
    }
    AppendGuard(const AppendGuard&) = delete;
    AppendGuard& operator=(const AppendGuard&) = delete;

private:
    pthread_mutex_t& m_mutex;
    int m_cancelState = PTHREAD_CANCEL_ENABLE;
};

bool exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Writes the last `count` decimal digits of value, with leading zeros.
void putDigits(char* out, unsigned long value, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

} // namespace

LogWriter::LogWriter()
{
    pthread_mutex_init(&m_mutex, nullptr);
}

LogWriter* LogWriter::instance()
{
    static LogWriter* const writer = [] {
        auto* created = new LogWriter;
        atexit(&LogWriter::closeAtExit);
        return created;
    }();
    return writer;
}

void LogWriter::closeAtExit()
{
    LogWriter* writer = instance();
    writer->write(LogInfo, "Leave LogWrite");
    AppendGuard guard(writer->m_mutex);
    writer->m_file.close();
    writer->m_closed = true;
}

void logCheck(const char* signature, int line, int level)
{
    LogWriter::instance()->write(level, "%s: H %d", signature, line);
}

const char* LogWriter::levelName(int level)
{
    static const char* const names[] = {"DBUG", "INFO", "WARN", "ERRO", "TEST"};
    return level >= 0 && level < 5 ? names[level] : "";
}

int LogWriter::init(const std::string& dir, const std::string& name, int level, int maxSize, int maxFiles,
                    bool console)
{
    {
        AppendGuard guard(m_mutex);
        m_level.store(level, std::memory_order_relaxed);
        m_file.place(dir, name, maxSize, maxFiles < 1 ? 1 : maxFiles);
        m_console = console;
        m_closed = false;

        checkDir(dir);
        if (m_file.exists()) {
            puts("shift log files");
            if (m_file.rotate() < 0)
                reportFault();
        }
        if (m_file.open() < 0) {
            reportFault();
            throw std::runtime_error("Open Log File Error");
        }
    }
    write(level, "Log File Initialize Success: Level (%s), %sSTD-Output", levelName(level),
          console ? "" : "No-");
    writeEarlyLines();
    return 0;
}

void LogWriter::writeEarlyLines()
{
    std::vector<EarlyLine> early;
    size_t dropped = 0;
    {
        AppendGuard guard(m_mutex);
        early.swap(m_early);
        std::swap(dropped, m_earlyDropped);
    }
    for (const EarlyLine& line : early)
        if (isEnabled(line.level))
            append(line.level, line.text.data(), line.text.size());
    if (dropped > 0)
        write(LogWarn, "%zu lines written before the log was opened are lost", dropped);
}

int LogWriter::write(int level, const char* format, ...)
{
    if (!isEnabled(level))
        return 0;
    const size_t prefix = makePrefix(t_line, level);
    const size_t room = kLineLimit - prefix; // for the text and its terminating NUL
    va_list args;
    va_start(args, format);
    const int wanted = vsnprintf(t_line + prefix, room, format, args);
    va_end(args);
    size_t text = wanted < 0 ? 0 : static_cast<size_t>(wanted);
    if (text > room - 1)
        text = room - 1; // cut: the newline takes the last byte of the 1023
    text = logescape::escapeInPlace(t_line + prefix, text, room - 1);
    size_t length = prefix + text;
    t_line[length++] = '\n';
    t_line[length] = '\0';
    return append(level, t_line, length);
}

int LogWriter::write(int level, const std::string& message)
{
    return writeText(level, message.data(), message.size());
}

int LogWriter::write(int level, const QString& message)
{
    if (!isEnabled(level))
        return 0;
    const QByteArray text = message.toUtf8();
    return writeText(level, text.constData(), static_cast<size_t>(text.size()));
}

int LogWriter::writeText(int level, const char* text, size_t length)
{
    if (!isEnabled(level))
        return 0;
    std::string line(t_line, makePrefix(t_line, level));
    logescape::appendEscaped(line, text, length);
    line += '\n';
    return append(level, line.data(), line.size());
}

size_t LogWriter::makePrefix(char* buffer, int level)
{
    // The date and time up to the second change once a second: each thread
    // keeps them formatted and only adds the microseconds, level and thread.
    thread_local time_t cachedSecond = -1;
    thread_local char cachedDate[64];
    thread_local size_t cachedLength = 0;

    timeval now{};
    gettimeofday(&now, nullptr);
    if (now.tv_sec != cachedSecond) {
        tm local{};
        localtime_r(&now.tv_sec, &local);
        const int length = snprintf(cachedDate, sizeof cachedDate, "[%d-%d-%d %02d:%02d:%02d.", local.tm_year + 1900,
                                    local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        cachedLength = length > 0 ? std::min(static_cast<size_t>(length), sizeof cachedDate - 1) : 0;
        cachedSecond = now.tv_sec;
    }
    size_t length = cachedLength;
    memcpy(buffer, cachedDate, length);
    putDigits(buffer + length, static_cast<unsigned long>(now.tv_usec), 6);
    length += 6;
    memcpy(buffer + length, "][", 2);
    length += 2;
    const char* word = levelName(level);
    const size_t wordLength = strlen(word);
    memcpy(buffer + length, word, wordLength);
    length += wordLength;
    memcpy(buffer + length, "] [", 3);
    length += 3;
    putDigits(buffer + length, static_cast<unsigned long>(pthread_self()) % 10000, 4);
    length += 4;
    buffer[length++] = ']';
    buffer[length] = '\0';
    return length;
}

int LogWriter::append(int level, const char* line, size_t length)
{
    AppendGuard guard(m_mutex);
    if (m_closed)
        return 0; // after exit: the line is lost, nothing breaks
    if (!m_file.placed()) {
        if (m_early.size() < kEarlyLineLimit)
            m_early.push_back({level, std::string(line, length)});
        else
            ++m_earlyDropped;
        return 0;
    }

    const int result = m_file.append(line, length);
    if (result < 0) {
        reportFault();
        if (m_file.fault().step == LogFileFault::Open)
            return 0; // the next line tries again
        puts("LogWrite, Shift Log File Fail");
        return result;
    }
    if (result == 0)
        printf("LogWriter, Fail to write log(%s)\n", line);
    if (m_console) {
        fwrite(line, 1, length, stdout);
        fflush(stdout);
    }
    return result;
}

void LogWriter::reportFault() const
{
    const LogFileFault& fault = m_file.fault();
    switch (fault.step) {
    case LogFileFault::DropOldest:
        printf("LogWriter, unlink file (%s) error\n", fault.file.c_str());
        break;
    case LogFileFault::ShiftNumbered:
        printf("LogWriter, rename file (%s) error\n", fault.file.c_str());
        break;
    case LogFileFault::Open:
        printf("LogWriter::openLog, Fail to open log file(%s)\n", fault.file.c_str());
        break;
    case LogFileFault::MoveCurrent: // only its errno tells
    case LogFileFault::None:
        break;
    }
}

void LogWriter::checkDir(const std::string& dir)
{
    if (dir.empty())
        return;
    const std::string fsDir = rootPath(dir);
    char message[128];
    if (!exists(fsDir) && mkdir(fsDir.c_str(), 0700) != 0) {
        snprintf(message, sizeof message, "LogWriter: create folder(%s) failed\n", dir.c_str());
        throw std::runtime_error(message);
    }
    if (access(fsDir.c_str(), W_OK) != 0) {
        snprintf(message, sizeof message, "LogWriter: Directory(%s) is not Writable\n", dir.c_str());
        throw std::runtime_error(message);
    }
}
