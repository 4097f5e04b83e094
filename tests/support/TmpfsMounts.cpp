#include "support/TmpfsMounts.h"

#include "base/log/RootPath.h"
#include "support/TestNamespaces.h"

#include <sys/mount.h>

#include <cerrno>
#include <sstream>

namespace testsupport {

void TmpfsMounts::failMounts(const std::string& source, int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.emplace_back(source, error);
}

std::vector<TmpfsMounts::Call> TmpfsMounts::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

int TmpfsMounts::mount(const std::string& source, const std::string& target, const std::string& type,
                       unsigned long flags, const std::string& data)
{
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back({source, target, type, data});
        for (const auto& failure : m_failures)
            if (failure.first == source)
                error = failure.second;
    }
    if (!insideTestNamespaces() || rootPrefix().empty())
        error = EPERM;
    if (error != 0) {
        errno = error;
        return -1;
    }
    const std::string fsType = type == "vfat" ? "tmpfs" : type;
    // A tmpfs asked for as such takes its options ("size=4m"); a vfat's would be refused.
    const char* options = type == "tmpfs" && !data.empty() ? data.c_str() : nullptr;
    return ::mount(source.c_str(), rootPath(target).c_str(), fsType.c_str(), flags, options);
}

int TmpfsMounts::unmount(const std::string& target, int flags)
{
    if (!insideTestNamespaces() || rootPrefix().empty()) {
        errno = EPERM;
        return -1;
    }
    return ::umount2(rootPath(target).c_str(), flags);
}

bool TmpfsMounts::readTable(std::string* table)
{
    std::string all;
    if (!Mounts::readTable(&all))
        return false;
    const std::string root = rootPrefix() + "/";
    std::istringstream in(all);
    table->clear();
    for (std::string line; std::getline(in, line);) {
        const size_t target = line.find(' ');
        if (target == std::string::npos || line.compare(target + 1, root.size(), root) != 0)
            continue;
        *table += line.substr(0, target + 1) + line.substr(target + root.size()) + "\n";
    }
    return true;
}

} // namespace testsupport
