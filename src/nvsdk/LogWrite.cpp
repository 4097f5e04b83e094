#include "nvsdk/LogWrite.h"

#include "base/log/LogEscape.h"
#include "base/log/RootPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace nvsdk {

namespace {

// The folder and its parents; the owner must be able to enter each.
int makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return -errno;
        if (slash == std::string::npos)
            return 0;
    }
}

} // namespace

LogWrite::LogWrite()
{
    memset(m_line, 0, sizeof m_line);
}

LogWrite::~LogWrite()
{
    write(1, "Leave LogWrite\n");
    close();
}

const char* LogWrite::levelName(int level)
{
    switch (level) {
    case 0:
        return "DEBUG";
    case 1:
        return "INFOR";
    case 2:
        return "WARNING";
    case 3:
        return "ERROR";
    default:
        return "UNKNOWN";
    }
}

int LogWrite::init(const std::string& dir, const std::string& name, int level, int maxSize, int fileCount,
                   bool console)
{
    {
        MutexLocker lock(&m_lock);
        m_level = level;
        m_console = console;
        // The file count includes the current file.
        m_file.place(dir, name, maxSize, std::max(fileCount, 1) - 1);

        checkDir(dir);
        if (m_file.exists()) {
            printf("Log: file exist (%s)\n", m_file.path().c_str());
            if (m_file.rotate() < 0)
                reportRotationFault();
        }
        const int opened = m_file.open();
        if (opened < 0) {
            printf("Log: fopen file (%s), msg (%s)\n", m_file.path().c_str(), strerror(-opened));
            return opened;
        }
    }
    const int configured = m_level;
    write(configured, "Log File Initialize Success: Level (%s)\n", levelName(configured));
    return 0;
}

void LogWrite::checkDir(const std::string& dir)
{
    if (dir.empty())
        return;
    const std::string folder = rootPath(dir);
    struct stat info{};
    if (stat(folder.c_str(), &info) != 0) {
        const int result = makeFolders(folder);
        if (result < 0)
            printf("Log: create folder(%s) failed, %s\n", dir.c_str(), strerror(-result));
        return;
    }
    if (access(folder.c_str(), W_OK) != 0)
        printf("Log: Directory(%s) is not Writable\n", dir.c_str());
}

void LogWrite::reportRotationFault() const
{
    const LogFileFault& fault = m_file.fault();
    const char* error = strerror(fault.error);
    switch (fault.step) {
    case LogFileFault::DropOldest:
        printf("Log: unlink file (%s) error, %s\n", fault.file.c_str(), error);
        break;
    case LogFileFault::ShiftNumbered:
        printf("Log: rename file (%s) error, %s\n", fault.file.c_str(), error);
        break;
    case LogFileFault::MoveCurrent:
        printf("Log: rename file (%s) to (%s) error, %s\n", fault.file.c_str(), fault.target.c_str(), error);
        break;
    case LogFileFault::Open: // a line that cannot open the file only returns the error
    case LogFileFault::None:
        break;
    }
}

size_t LogWrite::startLine(int level)
{
    memset(m_line, 0, sizeof m_line);
    const int prefix = snprintf(m_line, sizeof m_line, "[%s] ", levelName(level));
    return static_cast<size_t>(prefix);
}

int LogWrite::write(int level, const char* format, ...)
{
    if (level < m_level)
        return 0;
    MutexLocker lock(&m_lock);
    const size_t prefix = startLine(level);
    size_t length = prefix;
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(m_line + length, sizeof m_line - length, format, args);
    va_end(args);
    if (written > 0)
        length = std::min(length + static_cast<size_t>(written), sizeof m_line - 1);
    return append(escapeMessage(prefix, length));
}

int LogWrite::write(int level, const std::string& message)
{
    if (level < m_level)
        return 0;
    MutexLocker lock(&m_lock);
    const size_t prefix = startLine(level);
    const size_t taken = std::min(message.size(), sizeof m_line - 1 - prefix);
    memcpy(m_line + prefix, message.data(), taken);
    return append(escapeMessage(prefix, prefix + taken));
}

// Under the lock: escapes the control characters of the message in
// m_line[prefix, length); the line's new length.
size_t LogWrite::escapeMessage(size_t prefix, size_t length)
{
    const size_t escaped = logescape::escapeInPlace(m_line + prefix, length - prefix, sizeof m_line - 1 - prefix);
    m_line[prefix + escaped] = '\0';
    return prefix + escaped;
}

// Under the lock: the line in m_line[0, length).
int LogWrite::append(size_t length)
{
    if (m_file.placed()) {
        const int result = m_file.append(m_line, length);
        if (result < 0) {
            if (m_file.fault().step != LogFileFault::Open) {
                reportRotationFault();
                puts("Log: shift log file error");
            }
            return result;
        }
        if (result == 0)
            printf("Log: fail to write log(%s)\n", m_file.path().c_str());
    }
    if (m_console) {
        fwrite(m_line, 1, length, stdout);
        fflush(stdout);
    }
    return 0;
}

void LogWrite::close()
{
    MutexLocker lock(&m_lock);
    m_file.close();
}

} // namespace nvsdk
