#include "Confinement.h"

#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace confinement {

namespace {

pid_t g_parent = 0;

// The kernel also sends this when the thread that started this program
// ends; the printer, its parent, is still there then.
void parentGone(int)
{
    if (getppid() != g_parent)
        _exit(0);
}

} // namespace

bool followParent(pid_t parent)
{
    g_parent = parent;
    struct sigaction action = {};
    action.sa_handler = parentGone;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (parent <= 1 || sigaction(SIGHUP, &action, nullptr) != 0 || prctl(PR_SET_PDEATHSIG, SIGHUP, 0, 0, 0) != 0)
        return false;
    // Gone before the signal was asked for.
    return getppid() == parent;
}

bool dropPrivileges()
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    // Emptying the bounding set takes CAP_SETPCAP, which only a privileged
    // start has; without it there is nothing below to lose either.
    for (int cap = 0; prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EPERM)
            return false;
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0); // kernels without ambient sets refuse it
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, sets) != 0 || syscall(SYS_capget, &header, sets) != 0)
        return false;
    for (const __user_cap_data_struct& set : sets)
        if (set.effective || set.permitted || set.inheritable)
            return false;
    return true;
}

} // namespace confinement
