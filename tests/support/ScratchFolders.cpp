#include "support/ScratchFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace testsupport {

namespace {

const char kPrefix[] = "talviks-test.";

// Process ids are only meaningful within their pid namespace; 0 when unknown.
unsigned long long pidNamespace()
{
    struct stat self{};
    return stat("/proc/self/ns/pid", &self) == 0 ? static_cast<unsigned long long>(self.st_ino) : 0;
}

bool allDigits(const std::string& text)
{
    return !text.empty() && text.size() <= 20 && text.find_first_not_of("0123456789") == std::string::npos;
}

// The owner in a scratch folder's name; false when the name is not one.
bool parseOwner(const std::string& name, unsigned long long* ns, long long* pid)
{
    const std::string prefix = kPrefix;
    if (name.compare(0, prefix.size(), prefix) != 0)
        return false;
    const size_t nsEnd = name.find('.', prefix.size());
    const size_t pidEnd = nsEnd == std::string::npos ? nsEnd : name.find('.', nsEnd + 1);
    if (pidEnd == std::string::npos)
        return false;
    const std::string nsText = name.substr(prefix.size(), nsEnd - prefix.size());
    const std::string pidText = name.substr(nsEnd + 1, pidEnd - nsEnd - 1);
    const std::string suffix = name.substr(pidEnd + 1);
    if (!allDigits(nsText) || !allDigits(pidText) || suffix.size() != 6)
        return false;
    for (char c : suffix)
        if (!isalnum(static_cast<unsigned char>(c)))
            return false;
    *ns = strtoull(nsText.c_str(), nullptr, 10);
    *pid = strtoll(pidText.c_str(), nullptr, 10);
    return *pid > 0;
}

bool processGone(long long pid)
{
    return pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    remove(path);
    return 0;
}

} // namespace

std::string makeScratchFolder(const std::string& parent)
{
    std::string pattern = parent + "/" + kPrefix + std::to_string(pidNamespace()) + "." + std::to_string(getpid()) + ".XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

void removeScratchFolder(const std::string& path)
{
    nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

int removeStaleScratchFolders(const std::string& parent)
{
    const unsigned long long ours = pidNamespace();
    if (ours == 0)
        return 0;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(parent.c_str()), closedir);
    if (!folder)
        return 0;
    int removed = 0;
    while (const dirent* entry = readdir(folder.get())) {
        unsigned long long ns = 0;
        long long pid = 0;
        struct stat info{};
        if (!parseOwner(entry->d_name, &ns, &pid) || ns != ours ||
            fstatat(dirfd(folder.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != geteuid() || !processGone(pid))
            continue;
        removeScratchFolder(parent + "/" + entry->d_name);
        ++removed;
    }
    return removed;
}

} // namespace testsupport
