#include "driver/OutFiles.h"

#include "base/files/DurableFile.h"

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

constexpr int kNotAFolder = -1;

// mkdir -p with an explicit mode, whatever the umask: 0, an errno value, or
// kNotAFolder when `dir` is something else.
int makeFolders(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    struct stat info{};
    if (stat(dir.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : kNotAFolder;
    if (errno != ENOENT)
        return errno;
    const size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0)
        if (const int error = makeFolders(dir.substr(0, slash)))
            return error;
    if (mkdir(dir.c_str(), 0755) != 0)
        return errno;
    return chmod(dir.c_str(), 0755) == 0 ? 0 : errno;
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
    if (const int made = makeFolders(dir)) {
        error = made == kNotAFolder ? dir + " is a file, not a folder"
                                    : "cannot make the folder " + dir + ": " + strerror(made);
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
