#include "base/log/RotatingFile.h"

#include "base/log/RootPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

constexpr mode_t kMode = 0644;

// A link counts as itself, wherever it leads.
bool exists(const std::string& fsPath)
{
    struct stat info{};
    return lstat(fsPath.c_str(), &info) == 0;
}

// Milliseconds of the coarse monotonic clock: cheap, and fine enough for how
// often a log looks at its path.
int64_t coarseNowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Whether the open file has lost its last name. Asking the descriptor for its
// link count alone costs no path walk and no size update, so it is asked at
// every line.
bool unlinked(int fd)
{
    struct statx links{};
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_NLINK, &links) == 0)
        return (links.stx_mask & STATX_NLINK) && links.stx_nlink == 0;
    struct stat info{};
    return fstat(fd, &info) == 0 && info.st_nlink == 0;
}

} // namespace

RotatingFile::RotatingFile(int checkIntervalMs) : m_checkIntervalMs(checkIntervalMs) {}

RotatingFile::~RotatingFile()
{
    close();
}

void RotatingFile::place(const std::string& dir, const std::string& name, int maxSize, int kept)
{
    close();
    m_dir = dir;
    m_name = name;
    m_path = dir + "/" + name + ".log";
    m_fsPath = rootPath(m_path);
    m_maxSize = maxSize;
    m_kept = kept < 0 ? 0 : kept;
}

bool RotatingFile::exists() const
{
    return ::exists(m_fsPath);
}

std::string RotatingFile::numbered(int index) const
{
    return m_dir + "/" + m_name + "_" + std::to_string(index) + ".log";
}

int RotatingFile::fail(LogFileFault::Step step, const std::string& file, const std::string& target)
{
    const int error = errno;
    m_fault = {step, error, file, target};
    return -error;
}

int RotatingFile::rotate()
{
    close();
    if (m_kept == 0) {
        if (unlink(m_fsPath.c_str()) != 0 && errno != ENOENT)
            return fail(LogFileFault::DropOldest, m_path);
        return 0;
    }
    for (int i = m_kept; i >= 1; --i) {
        const std::string file = numbered(i);
        const std::string fsFile = rootPath(file);
        if (!::exists(fsFile))
            continue;
        if (i == m_kept) {
            if (unlink(fsFile.c_str()) != 0)
                return fail(LogFileFault::DropOldest, file);
        } else if (rename(fsFile.c_str(), rootPath(numbered(i + 1)).c_str()) != 0) {
            return fail(LogFileFault::ShiftNumbered, file, numbered(i + 1));
        }
    }
    if (exists() && rename(m_fsPath.c_str(), rootPath(numbered(1)).c_str()) != 0)
        return fail(LogFileFault::MoveCurrent, m_path, numbered(1));
    return 0;
}

int RotatingFile::open()
{
    return openFile(O_TRUNC);
}

int RotatingFile::openFile(int flags)
{
    if (m_fd >= 0)
        return 0;
    bool created = false;
    int fd = openPath(flags, &created);
    if (fd < 0 && errno == ELOOP) {
        // A link in place of the file: set aside as one found at the start,
        // never written through.
        const int rotated = rotate();
        if (rotated < 0)
            return rotated;
        fd = openPath(flags, &created);
    }
    if (fd < 0)
        return fail(LogFileFault::Open, m_path);
    // Readable by all, written by the process alone, whatever the umask; a
    // file that was there keeps the mode it was given.
    if (created)
        fchmod(fd, kMode);
    struct stat info{};
    if (fstat(fd, &info) != 0)
        info = {};
    m_fd = fd;
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_size = static_cast<long>(info.st_size);
    m_midLine = false;
    if (m_checkIntervalMs > 0)
        m_nextCheckMs = coarseNowMs() + m_checkIntervalMs;
    return 0;
}

// The current file, opened without following a link; not inherited by the
// programs the process starts. -1 with errno set.
int RotatingFile::openPath(int flags, bool* created) const
{
    const int common = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | flags;
    int fd = -1;
    // A file removed between the two opens is made on the next try.
    for (int tries = 0; tries < 3; ++tries) {
        fd = ::open(m_fsPath.c_str(), common | O_CREAT | O_EXCL, kMode);
        *created = fd >= 0;
        if (fd >= 0 || errno != EEXIST)
            return fd;
        fd = ::open(m_fsPath.c_str(), common);
        if (fd >= 0 || errno != ENOENT)
            return fd;
    }
    return fd;
}

void RotatingFile::close()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

// Whether the path is due for a look; each look sets the next one an
// interval later. Looking costs a path walk, as much as the write itself:
// a busy log looks for a moved file and its size on disk only now and then,
// and counts its own bytes between.
bool RotatingFile::checkDue()
{
    if (m_checkIntervalMs <= 0)
        return true;
    const int64_t nowMs = coarseNowMs();
    if (nowMs < m_nextCheckMs)
        return false;
    m_nextCheckMs = nowMs + m_checkIntervalMs;
    return true;
}

// 0 when the file does not exist, -1 when it cannot be asked (never rotates).
long RotatingFile::sizeOnDisk() const
{
    struct stat info{};
    if (lstat(m_fsPath.c_str(), &info) != 0)
        return errno == ENOENT ? 0 : -1;
    return static_cast<long>(info.st_size);
}

int RotatingFile::append(const char* line, size_t length)
{
    long size = m_size;
    // Removed from outside: the line would go to a file nobody can find.
    if (m_fd >= 0 && unlinked(m_fd))
        close();
    if (m_fd >= 0 && checkDue()) {
        // Moved from outside (or removed meanwhile): later lines would go to
        // a file nobody looks for. Start the file anew.
        struct stat there{};
        if (lstat(m_fsPath.c_str(), &there) != 0) {
            if (errno == ENOENT)
                close();
            else
                size = -1;
        } else if (there.st_dev != m_device || there.st_ino != m_inode) {
            close();
        } else {
            size = m_size = static_cast<long>(there.st_size);
        }
    }
    if (m_fd < 0)
        size = sizeOnDisk();
    if (size > m_maxSize) {
        const int rotated = rotate();
        if (rotated < 0)
            return rotated;
    }
    if (m_fd < 0) {
        const int opened = openFile(0);
        if (opened < 0)
            return opened;
    }
    // The rest of a line a failed write cut short is not glued to this one.
    if (m_midLine && writeAll("\n", 1) == 1)
        m_midLine = false;
    const size_t written = writeAll(line, length);
    if (written == length)
        return 1;
    if (written > 0)
        m_midLine = true;
    return 0;
}

// The bytes that reached the file: fewer than `length` when a write failed.
size_t RotatingFile::writeAll(const char* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t written = ::write(m_fd, data + done, length - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += static_cast<size_t>(written);
    }
    m_size += static_cast<long>(done);
    return done;
}
