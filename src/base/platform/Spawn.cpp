#include "base/platform/Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

pid_t spawnProgram(const SpawnSpec& spec)
{
    if (spec.argv.empty()) {
        errno = ENOENT;
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& arg : spec.argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (spec.nullInput)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    else if (spec.inFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.inFd, STDIN_FILENO);
    if (spec.outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.outFd, STDOUT_FILENO);
    if (spec.errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.errFd, STDERR_FILENO);
    // Nothing else of the printer's reaches a child: a package being
    // written, the sockets of a transfer, the renderer's channel.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigdefault(&attr, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (spec.ownGroup) {
        posix_spawnattr_setpgroup(&attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attr, flags);

    pid_t pid = -1;
    const int error = spec.search ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ)
                                  : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

int waitChild(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

void readCapped(int fd, std::string* out, size_t cap)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        if (out->size() < cap)
            out->append(buffer, std::min(static_cast<size_t>(n), cap - out->size()));
    }
}
