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

bool exists(const std::string& boardPath)
{
    return access(rootPath(boardPath).c_str(), F_OK) == 0;
}

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
        if (m_file) {
            fclose(m_file);
            m_file = nullptr;
        }
        m_level = level;
        m_dir = dir;
        m_name = name;
        m_path = dir + "/" + name + ".log";
        m_console = console;
        m_fileCount = std::max(fileCount, 1);
        m_maxSize = maxSize;

        checkDir();
        if (exists(m_path)) {
            printf("Log: file exist (%s)\n", m_path.c_str());
            rotate();
        }
        if (openFile("we") != 0) {
            const int error = errno;
            printf("Log: fopen file (%s), msg (%s)\n", m_path.c_str(), strerror(error));
            return -error;
        }
    }
    const int configured = m_level;
    write(configured, "Log File Initialize Success: Level (%s)\n", levelName(configured));
    return 0;
}

void LogWrite::checkDir()
{
    if (m_dir.empty())
        return;
    const std::string folder = rootPath(m_dir);
    struct stat info{};
    if (stat(folder.c_str(), &info) != 0) {
        const int result = makeFolders(folder);
        if (result < 0)
            printf("Log: create folder(%s) failed, %s\n", m_dir.c_str(), strerror(-result));
        return;
    }
    if (access(folder.c_str(), W_OK) != 0)
        printf("Log: Directory(%s) is not Writable\n", m_dir.c_str());
}

std::string LogWrite::numberedPath(int index) const
{
    return m_dir + "/" + m_name + "_" + std::to_string(index) + ".log";
}

// Keeps the current file and the numbered files 1 to fileCount - 1.
int LogWrite::rotate()
{
    if (m_fileCount == 1) {
        // No numbered file to keep: the current one makes way.
        if (unlink(rootPath(m_path).c_str()) != 0 && errno != ENOENT) {
            const int error = errno;
            printf("Log: unlink file (%s) error, %s\n", m_path.c_str(), strerror(error));
            return -error;
        }
        return 0;
    }
    for (int i = m_fileCount - 1; i >= 1; --i) {
        const std::string file = numberedPath(i);
        if (!exists(file))
            continue;
        if (i == m_fileCount - 1) {
            if (unlink(rootPath(file).c_str()) != 0) {
                const int error = errno;
                printf("Log: unlink file (%s) error, %s\n", file.c_str(), strerror(error));
                return -error;
            }
        } else if (rename(rootPath(file).c_str(), rootPath(numberedPath(i + 1)).c_str()) != 0) {
            const int error = errno;
            printf("Log: rename file (%s) error, %s\n", file.c_str(), strerror(error));
            return -error;
        }
    }
    if (exists(m_path) && rename(rootPath(m_path).c_str(), rootPath(numberedPath(1)).c_str()) != 0) {
        const int error = errno;
        printf("Log: rename file (%s) to (%s) error, %s\n", m_path.c_str(), numberedPath(1).c_str(), strerror(error));
        return -error;
    }
    return 0;
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
    if (!logescape::needsEscape(m_line + prefix, length - prefix))
        return length;
    char raw[sizeof m_line];
    memcpy(raw, m_line + prefix, length - prefix);
    const size_t escaped = logescape::escape(raw, length - prefix, m_line + prefix, sizeof m_line - 1 - prefix);
    m_line[prefix + escaped] = '\0';
    return prefix + escaped;
}

// Under the lock: the line in m_line[0, length).
int LogWrite::append(size_t length)
{
    if (!m_path.empty()) {
        const std::string path = rootPath(m_path);
        struct stat info{};
        long size = 0;
        const bool there = stat(path.c_str(), &info) == 0;
        if (there)
            size = static_cast<long>(info.st_size);
        else if (errno != ENOENT)
            size = -1;
        // Moved or removed from outside: later lines would go to a file
        // nobody can find. Start the file anew.
        if (m_file && size >= 0 && (!there || info.st_ino != m_fileId.st_ino || info.st_dev != m_fileId.st_dev)) {
            fclose(m_file);
            m_file = nullptr;
        }
        if (size > m_maxSize) {
            if (m_file) {
                fclose(m_file);
                m_file = nullptr;
            }
            const int result = rotate();
            if (result < 0) {
                puts("Log: shift log file error");
                return result;
            }
        }
        if (!m_file && openFile("ae") != 0)
            return -errno;
        if (fwrite(m_line, length, 1, m_file) == 1)
            fflush(m_file);
        else
            printf("Log: fail to write log(%s)\n", m_path.c_str());
    }
    if (m_console) {
        fwrite(m_line, 1, length, stdout);
        fflush(stdout);
    }
    return 0;
}

// Under the lock: opens the current file with `mode`; 0, or -1 with errno set.
int LogWrite::openFile(const char* mode)
{
    m_file = fopen(rootPath(m_path).c_str(), mode);
    if (!m_file)
        return -1;
    if (fstat(fileno(m_file), &m_fileId) != 0)
        m_fileId = {};
    return 0;
}

void LogWrite::close()
{
    MutexLocker lock(&m_lock);
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
}

} // namespace nvsdk
