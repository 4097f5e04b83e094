#include "base/platform/Sandbox.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Spawn.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// An absolute path, never a PATH lookup: a test's stubs come first on PATH.
const char kBubblewrap[] = "/usr/bin/bwrap";

// A namespace of this process, as "device:inode" of its /proc link; empty
// when it cannot be read.
std::string namespaceOf(const char* link)
{
    struct stat info{};
    if (stat(link, &info) != 0)
        return "";
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// The network namespace the process started in, read before main: the one it
// shares with the host. A namespace entered later is one a test made for itself.
const std::string g_startNetwork = namespaceOf("/proc/self/ns/net");

std::string realFolder(const char* path)
{
    char real[PATH_MAX];
    struct stat info{};
    if (!path || !*path || !realpath(path, real) || stat(real, &info) != 0 || !S_ISDIR(info.st_mode))
        return "";
    return real;
}

// The bubblewrap arguments up to the program, for the caller as it stands now.
std::vector<std::string> sandboxArguments(const std::string& network)
{
    // Kernel settings ask only for the owner's write permission, which uid 0
    // keeps without any capability: they are read-only.
    std::vector<std::string> args = {kBubblewrap, "--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc",
                                     "--ro-bind", "/proc/sys", "/proc/sys"};
    std::vector<std::string> privateFolders = {"/tmp", "/run"};
    struct stat info{};
    if (lstat("/var/run", &info) == 0 && S_ISDIR(info.st_mode))
        privateFolders.push_back("/var/run");
    for (const std::string& folder : privateFolders)
        args.insert(args.end(), {"--tmpfs", folder});

    // A temporary folder of /tmp itself is the private one.
    std::vector<std::string> writable;
    for (const std::string& folder : {realFolder(rootPrefix().c_str()), realFolder(getenv("TMPDIR"))})
        if (!folder.empty() && folder != "/" && folder != "/tmp" && folder != "/run")
            writable.push_back(folder);
    // Outer folders first, so that an inner one is not hidden by them.
    std::sort(writable.begin(), writable.end());

    // The program starts in the caller's folder. One that the private
    // folders hide (a checkout under /tmp) is shown read-only, as the rest
    // of the host is.
    const std::string cwd = realFolder(".");
    const auto within = [](const std::string& path, const std::string& folder) {
        return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                                  path[folder.size()] == '/');
    };
    const bool hidden = std::any_of(privateFolders.begin(), privateFolders.end(), [&](const std::string& folder) {
        return cwd != folder && within(cwd, folder);
    });
    const bool shownWritable = std::any_of(writable.begin(), writable.end(),
                                           [&](const std::string& folder) { return within(cwd, folder); });
    if (hidden && !shownWritable)
        args.insert(args.end(), {"--ro-bind", cwd, cwd});
    for (const std::string& folder : writable)
        args.insert(args.end(), {"--bind", folder, folder});

    args.insert(args.end(), {"--unshare-pid", "--unshare-ipc", "--unshare-uts"});
    const bool testNetwork = !network.empty() && !g_startNetwork.empty() && network != g_startNetwork;
    if (!testNetwork)
        args.push_back("--unshare-net");
    args.insert(args.end(), {"--cap-drop", "ALL"});
    // A DHCP client opens raw sockets and sets the address it was given.
    if (testNetwork)
        args.insert(args.end(), {"--cap-add", "CAP_NET_ADMIN", "--cap-add", "CAP_NET_RAW", "--cap-add",
                                 "CAP_NET_BIND_SERVICE"});
    // A new session: no program can type into the terminal the caller runs in.
    args.insert(args.end(), {"--die-with-parent", "--new-session"});
    if (!cwd.empty())
        args.insert(args.end(), {"--chdir", cwd});
    args.push_back("--");
    return args;
}

// Makes a sandbox of that shape around /bin/true: empty when it can be made,
// otherwise why not.
std::string tryMaking(std::vector<std::string> args)
{
    if (access(kBubblewrap, X_OK) != 0)
        return std::string("bubblewrap is not installed (") + kBubblewrap + ": " + strerror(errno) + ")";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return std::string("pipe: ") + strerror(errno);
    args.push_back("/bin/true");
    SpawnSpec spec;
    spec.argv = args;
    spec.search = false;
    spec.errFd = fds[1];
    spec.nullInput = true;
    const pid_t pid = spawnProgram(spec);
    const int spawnError = errno;
    close(fds[1]);
    std::string errors;
    readCapped(fds[0], &errors, 4096);
    close(fds[0]);
    if (pid < 0)
        return std::string("cannot start bubblewrap: ") + strerror(spawnError);
    const int status = waitChild(pid);
    if (status < 0)
        return std::string("waiting for bubblewrap: ") + strerror(errno);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    while (!errors.empty() && isspace(static_cast<unsigned char>(errors.back())))
        errors.pop_back();
    return "bubblewrap cannot make the sandbox: " +
           (errors.empty() ? "wait status " + std::to_string(status) : errors);
}

// Whether the sandbox can be made for the caller as it stands (empty: yes),
// tried once for each shape and network namespace.
std::string verdictFor(const std::vector<std::string>& args, const std::string& network)
{
    static std::mutex mutex;
    static std::map<std::string, std::string> verdicts;
    std::string key = network;
    for (const std::string& arg : args)
        key += '\n' + arg;
    std::lock_guard<std::mutex> lock(mutex);
    const auto known = verdicts.find(key);
    if (known != verdicts.end())
        return known->second;
    return verdicts[key] = tryMaking(args);
}

// As the direct start would answer a program that is not there.
bool findProgram(const SpawnSpec& spec, std::string* why)
{
    const std::string& name = spec.argv[0];
    std::vector<std::string> candidates;
    if (!spec.search || name.find('/') != std::string::npos) {
        candidates.push_back(name);
    } else {
        const char* path = getenv("PATH");
        const std::string dirs = path ? path : "/bin:/usr/bin";
        for (size_t start = 0; start <= dirs.size();) {
            const size_t end = std::min(dirs.find(':', start), dirs.size());
            candidates.push_back((end > start ? dirs.substr(start, end - start) : ".") + "/" + name);
            start = end + 1;
        }
    }
    int error = ENOENT;
    for (const std::string& candidate : candidates) {
        struct stat info{};
        if (stat(candidate.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
            continue;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        error = EACCES;
    }
    *why = strerror(error);
    errno = error;
    return false;
}

std::string commandText(const std::vector<std::string>& argv)
{
    std::string text;
    for (const std::string& arg : argv)
        text += (text.empty() ? "" : " ") + arg;
    return text;
}

} // namespace

pid_t spawnShellProgram(const SpawnSpec& spec, std::string* why)
{
    if (spec.argv.empty()) {
        *why = "empty command";
        errno = ENOENT;
        return -1;
    }
    SpawnSpec started = spec;
    if (!rootPrefix().empty()) {
        if (!findProgram(spec, why))
            return -1;
        const std::string network = namespaceOf("/proc/self/ns/net");
        const std::vector<std::string> args = sandboxArguments(network);
        const std::string unavailable = verdictFor(args, network);
        if (!unavailable.empty()) {
            logger()->write(LogWarn, "Shell: not running \"%s\" under the scratch root %s: no sandbox: %s",
                            commandText(spec.argv).c_str(), rootPrefix().c_str(), unavailable.c_str());
            *why = "no sandbox: " + unavailable;
            errno = EPERM;
            return -1;
        }
        started.argv = args;
        started.argv.insert(started.argv.end(), spec.argv.begin(), spec.argv.end());
        started.search = false;
    }
    const pid_t pid = spawnProgram(started);
    if (pid < 0) {
        const int error = errno;
        *why = strerror(error);
        errno = error;
    }
    return pid;
}

std::string sandboxUnavailable()
{
    if (rootPrefix().empty())
        return "";
    const std::string network = namespaceOf("/proc/self/ns/net");
    return verdictFor(sandboxArguments(network), network);
}
