#include "driver/OutFiles.h"

#include "base/files/DurableFile.h"
#include "base/files/Folders.h"
#include "base/files/RegularFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

// Gives the temporary file, holding every byte, its mode and the name `path`;
// removes it when that fails or `error` (an errno value) says it is not whole.
int commitWhole(int fd, const std::string& temporary, const std::string& path, int error)
{
    if (error == 0 && fchmod(fd, 0644) != 0)
        error = errno;
    if (error != 0) {
        durable::discardTemporary(fd, temporary);
        return error;
    }
    // Not flushed to storage: the simulator's files need not outlive a power
    // cut, and a flush a frame would hold the frame writer back. A failed
    // close (a deferred write) still keeps the file from its name.
    if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        unlink(temporary.c_str());
        return error;
    }
    return 0;
}

// Copies what is left of `in` to `out`: 0, or the errno value of the failing read or write.
int copyAll(int in, int out)
{
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : 0;
        if (const int written = durable::writeAll(out, buffer.data(), static_cast<size_t>(n)))
            return -written;
    }
}

} // namespace

int writeWholeFile(const std::string& path, const void* data, size_t size)
{
    std::string temporary;
    const int fd = durable::openTemporary(path, &temporary);
    if (fd < 0)
        return -fd;
    return commitWhole(fd, temporary, path, -durable::writeAll(fd, data, size));
}

int writeWholeFile(const std::string& path, const std::string& data)
{
    return writeWholeFile(path, data.data(), data.size());
}

int copyWholeFile(const std::string& from, const std::string& to)
{
    // A file already in its place is used as it is.
    std::error_code unknown;
    if (std::filesystem::equivalent(from, to, unknown))
        return 0;
    const int in = openRegularFile(from);
    if (in < 0)
        return errno;
    std::string temporary;
    const int out = durable::openTemporary(to, &temporary);
    if (out < 0) {
        close(in);
        return -out;
    }
    const int copied = copyAll(in, out);
    close(in);
    return commitWhole(out, temporary, to, copied);
}

bool prepareOutFolder(const std::string& dir, std::string& error)
{
    if (const int made = folders::makeAll(dir)) {
        error = made == -ENOTDIR ? dir + " is a file, not a folder"
                                 : "cannot make the folder " + dir + ": " + strerror(-made);
        return false;
    }
    // Permissions alone do not tell (root, a read-only mount, a full table of
    // files): a file made and removed does.
    std::string probe;
    const int fd = durable::openTemporary(dir + "/timeline.csv", &probe);
    if (fd < 0) {
        error = "cannot write in " + dir + ": " + strerror(-fd);
        return false;
    }
    durable::discardTemporary(fd, probe);
    return true;
}

bool holdOutFolder(const std::string& dir, std::string& error)
{
    // Never closed: the lock goes with the process, however it ends.
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? dir + " is in use by another run of the simulator"
                                     : "cannot hold the folder " + dir + " for this run: " + strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    return true;
}
