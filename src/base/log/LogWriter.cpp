#include "base/log/LogWriter.h"

#include "base/log/LogEscape.h"
#include "base/log/RootPath.h"

#include <QString>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>
#include <signal.h>
#include <sys/inotify.h>
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

std::string rotatedName(const std::string& dir, const std::string& name, int index)
{
    char buffer[512];
    snprintf(buffer, sizeof buffer, "%s/%s_%i.log", dir.c_str(), name.c_str(), index);
    return buffer;
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
    writer->closeLog();
    writer->m_closed = true;
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
        closeLog();
        m_level.store(level, std::memory_order_relaxed);
        m_dir = dir;
        m_name = name;
        m_path = dir + "/" + name + ".log";
        m_maxFiles = maxFiles < 1 ? 1 : maxFiles;
        m_console = console;
        m_maxSize = maxSize;
        m_fsDir = rootPath(m_dir.empty() ? "/" : m_dir);
        m_fsPath = rootPath(m_path);
        m_closed = false;

        checkDir();
        if (exists(m_fsPath)) {
            puts("shift log files");
            shiftFiles();
        }
        openLog();
        if (!m_file)
            throw std::runtime_error("Open Log File Error");
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
    if (logescape::needsEscape(t_line + prefix, text)) {
        char raw[kLineLimit];
        memcpy(raw, t_line + prefix, text);
        text = logescape::escape(raw, text, t_line + prefix, room - 1);
    }
    size_t length = prefix + text;
    t_line[length++] = '\n';
    t_line[length] = '\0';
    return append(level, t_line, length);
}

int LogWriter::write(int level, const std::string& message)
{
    if (!isEnabled(level))
        return 0;
    std::string line(t_line, makePrefix(t_line, level));
    line += logescape::escaped(message);
    line += '\n';
    return append(level, line.data(), line.size());
}

int LogWriter::write(int level, const QString& message)
{
    if (!isEnabled(level))
        return 0;
    return write(level, message.toUtf8().toStdString());
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
    if (m_path.empty()) {
        if (m_early.size() < kEarlyLineLimit)
            m_early.push_back({level, std::string(line, length)});
        else
            ++m_earlyDropped;
        return 0;
    }

    if (m_file && fileLeftItsPlace())
        closeLog(); // deleted or moved away from outside: start the file anew
    if (fileSize() > m_maxSize) {
        closeLog();
        const int shifted = shiftFiles();
        if (shifted < 0) {
            puts("LogWrite, Shift Log File Fail");
            return shifted;
        }
        openLog();
    }
    if (!m_file && openLog() != 0)
        return 0;

    // The rest of a line a failed write cut short is not glued to this one.
    if (m_midLine && fwrite("\n", 1, 1, m_file) == 1) {
        m_midLine = false;
        ++m_size;
    }
    const int written = static_cast<int>(fwrite(line, length, 1, m_file));
    if (written == 1) {
        m_size += static_cast<long>(length);
    } else {
        printf("LogWriter, Fail to write log(%s)\n", line);
        clearerr(m_file);
        struct stat st{};
        if (fstat(fileno(m_file), &st) == 0 && st.st_size > m_size) {
            m_midLine = true;
            m_size = static_cast<long>(st.st_size);
        }
    }
    if (m_console) {
        fwrite(line, 1, length, stdout);
        fflush(stdout);
    }
    return written;
}

long LogWriter::fileSize()
{
    // The open file only grows by our own lines: its size is counted here
    // rather than asked of the file system, which would double the cost of a line.
    if (m_file)
        return m_size;
    struct stat st{};
    if (stat(m_fsPath.c_str(), &st) != 0)
        return errno == ENOENT ? 0 : -1;
    return static_cast<long>(st.st_size);
}

bool LogWriter::fileLeftItsPlace()
{
    // With a watch in place, only a reported event is worth a look at the file system.
    if (m_watch.load() >= 0 && !m_fileMoved.exchange(false))
        return false;
    struct stat mine{}, there{};
    if (fstat(fileno(m_file), &mine) != 0)
        return false;
    if (stat(m_fsPath.c_str(), &there) != 0)
        return errno == ENOENT;
    return mine.st_ino != there.st_ino || mine.st_dev != there.st_dev;
}

void LogWriter::watchFile()
{
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = read(m_notifyFd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
            return;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->wd == m_watch.load() && !(event->mask & IN_IGNORED))
                m_fileMoved.store(true);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

int LogWriter::openLog()
{
    if (m_file)
        return 0;
    // Not inherited by the programs the process starts.
    m_file = fopen(m_fsPath.c_str(), "we");
    if (!m_file) {
        printf("LogWriter::openLog, Fail to open log file(%s)\n", m_path.c_str());
        return -1;
    }
    // Unbuffered: each line goes to the file in one write, and a failed one
    // leaves nothing behind to come out later.
    setvbuf(m_file, nullptr, _IONBF, 0);
    m_size = 0;
    m_midLine = false;
    // A file deleted or moved away from outside would swallow every later
    // line: a thread waits for the kernel to report that, so that writing a
    // line costs no more system calls than the write itself.
    if (m_notifyFd < 0) {
        m_notifyFd = inotify_init1(IN_CLOEXEC);
        if (m_notifyFd >= 0)
            std::thread(&LogWriter::watchFile, this).detach();
    }
    m_fileMoved = false;
    if (m_notifyFd >= 0)
        m_watch = inotify_add_watch(m_notifyFd, m_fsPath.c_str(), IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF);
    return 0;
}

void LogWriter::closeLog()
{
    if (!m_file)
        return;
    const int watch = m_watch.exchange(-1);
    if (watch >= 0)
        inotify_rm_watch(m_notifyFd, watch);
    fflush(m_file);
    fclose(m_file);
    m_file = nullptr;
}

void LogWriter::checkDir()
{
    if (m_dir.empty())
        return;
    char message[128];
    if (!exists(m_fsDir) && mkdir(m_fsDir.c_str(), 0700) != 0) {
        snprintf(message, sizeof message, "LogWriter: create folder(%s) failed\n", m_dir.c_str());
        throw std::runtime_error(message);
    }
    if (access(m_fsDir.c_str(), W_OK) != 0) {
        snprintf(message, sizeof message, "LogWriter: Directory(%s) is not Writable\n", m_dir.c_str());
        throw std::runtime_error(message);
    }
}

int LogWriter::shiftFiles()
{
    for (int i = m_maxFiles; i >= 1; --i) {
        const std::string name = rotatedName(m_dir, m_name, i);
        const std::string fsName = rootPath(name);
        if (!exists(fsName))
            continue;
        if (i == m_maxFiles) {
            if (unlink(fsName.c_str()) != 0) {
                const int error = errno;
                printf("LogWriter, unlink file (%s) error\n", name.c_str());
                return -error;
            }
        } else if (rename(fsName.c_str(), rootPath(rotatedName(m_dir, m_name, i + 1)).c_str()) != 0) {
            const int error = errno;
            printf("LogWriter, rename file (%s) error\n", name.c_str());
            return -error;
        }
    }
    if (!exists(m_fsPath))
        return 0;
    return rename(m_fsPath.c_str(), rootPath(rotatedName(m_dir, m_name, 1)).c_str()) == 0 ? 0 : -errno;
}
