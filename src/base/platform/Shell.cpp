#include "base/platform/Shell.h"

#include "base/platform/Sandbox.h"
#include "base/platform/Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Output beyond this is read and dropped: no command of the system prints more.
constexpr size_t kMaxOutput = 64u << 20;

// Starts argv[0] (looked up on PATH when `search`), waits for it and returns
// its raw wait status; the child's standard output goes to `output` when given.
int spawnAndWait(const std::vector<std::string>& args, bool search, std::string* output)
{
    int pipeFds[2] = {-1, -1};
    if (output && pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;

    SpawnSpec spec;
    spec.argv = args;
    spec.search = search;
    spec.outFd = pipeFds[1];
    std::string why;
    const pid_t pid = spawnShellProgram(spec, &why);
    const int spawnError = errno;
    if (output)
        close(pipeFds[1]);

    if (pid < 0) {
        if (output)
            close(pipeFds[0]);
        // As a shell answers a program it cannot start.
        return spawnError == ENOENT || spawnError == EACCES || spawnError == ENOEXEC ? W_EXITCODE(127, 0) : -1;
    }

    if (output) {
        readCapped(pipeFds[0], output, kMaxOutput);
        close(pipeFds[0]);
    }
    return waitChild(pid);
}

} // namespace

Shell::~Shell() = default;

int Shell::run(const std::string& command)
{
    return spawnAndWait({"/bin/sh", "-c", command}, false, nullptr);
}

int Shell::capture(const std::string& command, std::string* output)
{
    return spawnAndWait({"/bin/sh", "-c", command}, false, output);
}

int Shell::exec(const std::string& program, const std::vector<std::string>& args, std::string* output)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawnAndWait(argv, true, output);
}

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}
