#include "driver/OutFiles.h"

#include "base/files/DurableFile.h"
#include "base/files/Folders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

bool allDigits(const std::string& text, size_t from, size_t to)
{
    if (from >= to)
        return false;
    for (size_t i = from; i < to; ++i)
        if (!isdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// "frame-0001.png", "timeline.csv": the names a print run writes.
bool isPrintOutput(const std::string& name)
{
    static const std::string prefix = "frame-", suffix = ".png";
    if (name == "timeline.csv")
        return true;
    return name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           allDigits(name, prefix.size(), name.size() - suffix.size());
}

// ".frame-0001.png.Ab12Cd": a writer's temporary file of one of them.
bool isPrintTemporary(const std::string& name)
{
    if (!durable::isTemporaryName(name))
        return false;
    const size_t dot = name.rfind('.');
    return isPrintOutput(name.substr(1, dot - 1));
}

} // namespace

int writeWholeFile(const std::string& path, const void* data, size_t size)
{
    std::string temporary;
    const int fd = durable::openTemporary(path, &temporary);
    if (fd < 0)
        return -fd;
    int error = -durable::writeAll(fd, data, size);
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

int writeWholeFile(const std::string& path, const std::string& data)
{
    return writeWholeFile(path, data.data(), data.size());
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

bool removeEarlierPrint(const std::string& dir, std::string& error)
{
    DIR* folder = opendir(dir.c_str());
    if (!folder) {
        error = "cannot read the folder " + dir + ": " + strerror(errno);
        return false;
    }
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if ((isPrintOutput(name) || isPrintTemporary(name)) && unlinkat(dirfd(folder), name.c_str(), 0) != 0 &&
            errno != ENOENT && error.empty())
            error = "cannot remove " + dir + "/" + name + " of an earlier print: " + strerror(errno);
    }
    closedir(folder);
    return error.empty();
}
