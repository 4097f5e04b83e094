#pragma once

#include "base/platform/Platform.h"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// The mount seam of a test: real mounts, but tmpfs where the board mounts
// vfat, under the scratch root, inside the test's private mount namespace
// (it refuses with EPERM anywhere else, so it can never touch the host).
// The source name is kept, so the table reads "/dev/sda1 /media/sda1 ..."
// as on the board. Installed for its lifetime.
//
// Use it in a body run by RUN_IN_TEST_NAMESPACES (TestNamespaces.h).
class TmpfsMounts : public Mounts
{
public:
    struct Call
    {
        std::string source;
        std::string target; // board path
        std::string type;   // as asked
        std::string data;   // as asked; passed on only when tmpfs itself is asked for
    };

    // Mounts of `source` fail with `error` from now on (0: succeed again).
    void failMounts(const std::string& source, int error);
    // Every mount asked for, in order, failed ones included.
    std::vector<Call> calls() const;

    int mount(const std::string& source, const std::string& target, const std::string& type, unsigned long flags,
              const std::string& data) override;
    int unmount(const std::string& target, int flags) override;
    // The mounts under the scratch root only, with board paths as mount points.
    bool readTable(std::string* table) override;

private:
    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::vector<std::pair<std::string, int>> m_failures;
    ScopedPlatform m_installed{this}; // last: gone first
};

} // namespace testsupport
