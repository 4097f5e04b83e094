#include "support/TestSupport.h"

#include "base/log/RootPath.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <chrono>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

const std::string& scratchRoot()
{
    return rootPrefix();
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void writeScript(const std::string& path, const std::string& text)
{
    makeDirs(path.substr(0, path.rfind('/')));
    writeFile(path, text);
    if (chmod(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot make " + path + " executable");
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool fileExists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

int entriesIn(const std::string& folder)
{
    int count = 0;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            count += strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0;
        closedir(dir);
    }
    return count;
}

void makeDirs(const std::string& path)
{
    for (size_t pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot make " + part);
    }
}

std::string uniqueSleep(int seconds)
{
    static std::mt19937_64 random{std::random_device{}()};
    return std::to_string(seconds) + "." + std::to_string(random() % 900000000 + 100000000);
}

bool processWithArgument(const std::string& argument)
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(proc)) {
        if (found || strspn(entry->d_name, "0123456789") != strlen(entry->d_name))
            continue;
        const std::string words = readFile(std::string("/proc/") + entry->d_name + "/cmdline");
        for (size_t start = 0; start < words.size() && !found;) {
            const size_t end = std::min(words.find('\0', start), words.size());
            found = words.compare(start, end - start, argument) == 0;
            start = end + 1;
        }
    }
    closedir(proc);
    return found;
}

long long monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int callBesideIdleFifo(const std::string& fifo, const std::function<int()>& call)
{
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
        ADD_FAILURE() << "the call waits for a writer on the FIFO " << fifo;
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            close(fd);
    }
    return result.get();
}

int runBounded(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const std::string& output, int boundMs)
{
    const pid_t child = startProgram(argv, extraEnv, output);
    if (child < 0)
        return -1;
    int status = 0;
    const bool ended = eventually([&] { return waitpid(child, &status, WNOHANG) == child; }, boundMs, 10000);
    if (ended)
        return status;
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

pid_t startProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                   const std::string& output)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& entry : extraEnv)
        env.push_back(const_cast<char*>(entry.c_str()));
    for (char** entry = environ; *entry; ++entry)
        env.push_back(*entry);
    env.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            _exit(127);
        dup2(fd, 1);
        dup2(fd, 2);
        execve(args[0], args.data(), env.data());
        _exit(127);
    }
    return child;
}

std::vector<pid_t> childProcesses(pid_t parent)
{
    std::vector<pid_t> children;
    DIR* processes = opendir("/proc");
    if (!processes)
        return children;
    while (dirent* entry = readdir(processes)) {
        const int pid = atoi(entry->d_name);
        if (pid <= 0)
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t nameEnd = stat.rfind(')');
        int ppid = 0;
        if (nameEnd != std::string::npos && sscanf(stat.c_str() + nameEnd + 1, " %*c %d", &ppid) == 1 &&
            ppid == parent)
            children.push_back(pid);
    }
    closedir(processes);
    return children;
}

bool eventually(const std::function<bool()>& condition, int timeoutMs, int pollUs)
{
    const long long end = monotonicMs() + timeoutMs;
    while (!condition()) {
        if (monotonicMs() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(pollUs));
    }
    return true;
}

std::string stdoutWithDiskFullPast(const std::string& path, long room, const std::function<void()>& call)
{
    struct stat info{};
    if (stat(path.c_str(), &info) != 0)
        throw std::runtime_error("no file " + path);
    signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the process
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(info.st_size + room);
    if (setrlimit(RLIMIT_FSIZE, &tight) != 0)
        throw std::runtime_error(std::string("setrlimit: ") + strerror(errno));
    testing::internal::CaptureStdout();
    call();
    const std::string out = testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &saved);
    return out;
}

std::string namespacePrivilegeLacking()
{
    if (geteuid() != 0)
        return "this process does not run as root";
    // The effective capabilities, in hexadecimal; CAP_SYS_ADMIN is bit 21.
    constexpr unsigned long long kSysAdmin = 1ull << 21;
    std::istringstream status(readFile("/proc/self/status"));
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 7, "CapEff:") == 0)
            return std::stoull(line.substr(7), nullptr, 16) & kSysAdmin ? ""
                                                                          : "this process lacks CAP_SYS_ADMIN";
    return "this process's capabilities cannot be read";
}

std::string sandboxLacking(bool* skip)
{
    *skip = false;
    const std::string unavailable = sandboxUnavailable();
    if (unavailable.empty())
        return "";
    const std::string why = "programs under the scratch root need a sandbox: " + unavailable;
    if (access("/usr/bin/bwrap", X_OK) != 0) {
        *skip = true;
        return why;
    }
    const std::string lacking = namespacePrivilegeLacking();
    if (!lacking.empty()) {
        *skip = true;
        return why + " (" + lacking + ")";
    }
    return why + " (bubblewrap is installed and this process may make namespaces)";
}

} // namespace testsupport
