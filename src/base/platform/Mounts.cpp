#include "base/platform/Mounts.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Under a scratch root the process is a test or the simulator on a shared host.
bool refusedOnTheHost(const char* what, const std::string& target)
{
    if (rootPrefix().empty())
        return false;
    logger()->write(LogWarn, "Mounts: not %s %s: the host's mounts are not touched under the scratch root %s",
                                 what, target.c_str(), rootPrefix().c_str());
    errno = EPERM;
    return true;
}

} // namespace

Mounts::~Mounts() = default;

int Mounts::mount(const std::string& source, const std::string& target, const std::string& type,
                  unsigned long flags, const std::string& data)
{
    if (refusedOnTheHost("mounting", target))
        return -1;
    return ::mount(source.c_str(), target.c_str(), type.c_str(), flags, data.empty() ? nullptr : data.c_str());
}

int Mounts::unmount(const std::string& target, int flags)
{
    if (refusedOnTheHost("unmounting", target))
        return -1;
    return ::umount2(target.c_str(), flags);
}

bool Mounts::readTable(std::string* table)
{
    // Close-on-exec, as every descriptor of the process.
    FILE* in = fopen("/proc/mounts", "re");
    if (!in)
        return false;
    std::string text;
    char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof block, in)) > 0)
        text.append(block, got);
    const bool failed = ferror(in) != 0;
    fclose(in);
    if (failed)
        return false;
    *table = std::move(text);
    return true;
}

int unmountOrDetach(const std::string& target)
{
    Mounts& mounts = platform().mounts();
    if (mounts.unmount(target, 0) == 0)
        return 0;
    if (errno != EBUSY)
        return -1;
    logger()->write(LogWarn, "unmount %s: %s, detaching it", target.c_str(), strerror(EBUSY));
    return mounts.unmount(target, MNT_DETACH);
}
