#include "support/TestNamespaces.h"

#include "base/platform/Spawn.h"
#include "support/TestSupport.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>

namespace testsupport {

namespace {

bool g_inside = false;

// What the forked body tells the test, one record per event.
enum Kind : char { Failure = 'F', Skipped = 'S', Unavailable = 'U' };

void writeBytes(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
}

void writeText(int fd, const std::string& text)
{
    const uint32_t size = static_cast<uint32_t>(text.size());
    writeBytes(fd, &size, sizeof size);
    writeBytes(fd, text.data(), size);
}

void report(int fd, Kind kind, const std::string& message, const std::string& file = "", int32_t line = 0)
{
    writeBytes(fd, &kind, 1);
    writeBytes(fd, &line, sizeof line);
    writeText(fd, file);
    writeText(fd, message);
}

std::string systemError(const char* call)
{
    return std::string(call) + ": " + strerror(errno);
}

bool bringLoopbackUp(std::string* why)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = systemError("socket");
        return false;
    }
    ifreq request{};
    strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags |= IFF_UP;
        up = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!up)
        *why = systemError("bringing up lo");
    close(fd);
    return up;
}

// Process 1 of the new pid namespace: runs the body and reports its results.
[[noreturn]] void runBody(int fd, const std::function<void()>& body)
{
    std::string why;
    if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        report(fd, Unavailable, "namespaces unavailable: " + systemError("mounting /proc"));
        _exit(0);
    }
    if (!bringLoopbackUp(&why)) {
        report(fd, Unavailable, "namespaces unavailable: " + why);
        _exit(0);
    }
    g_inside = true;

    // Every result of the body, from any of its threads, goes to the test;
    // the second collector wins over one the caller set for its own thread.
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter fromAnyThread(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        testing::ScopedFakeTestPartResultReporter fromThisThread(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        try {
            body();
        } catch (const std::exception& error) {
            ADD_FAILURE() << "the body threw: " << error.what();
        } catch (...) {
            ADD_FAILURE() << "the body threw";
        }
    }
    for (int i = 0; i < results.size(); ++i) {
        const testing::TestPartResult& part = results.GetTestPartResult(i);
        if (part.skipped())
            report(fd, Skipped, part.message());
        else if (part.failed())
            report(fd, Failure, part.message(), part.file_name() ? part.file_name() : "", part.line_number());
    }
    fflush(stdout);
    fflush(stderr);
    _exit(0);
}

// The first child: makes the namespaces and waits for the body, whose end
// takes every process left in the pid namespace with it.
[[noreturn]] void makeNamespaces(int fd, const std::function<void()>& body)
{
    if (unshare(CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWPID) != 0) {
        report(fd, Unavailable, "namespaces unavailable: " + systemError("unshare"));
        _exit(0);
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        report(fd, Unavailable, "namespaces unavailable: " + systemError("making the mounts private"));
        _exit(0);
    }
    // Daemons keep sockets and pid files there (chronyd, wpa_supplicant):
    // the host's must never see them come and go.
    for (const char* dir : {"/run", "/var/run"}) {
        struct stat info{};
        if (lstat(dir, &info) == 0 && S_ISDIR(info.st_mode) &&
            mount("tmpfs", dir, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
            report(fd, Unavailable, "namespaces unavailable: " + systemError("mounting a private run folder"));
            _exit(0);
        }
    }
    const pid_t pid = fork();
    if (pid < 0) {
        report(fd, Unavailable, "namespaces unavailable: " + systemError("fork"));
        _exit(0);
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        runBody(fd, body);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        report(fd, Failure, "the body in the test namespaces was killed by signal " + std::to_string(WTERMSIG(status)));
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report(fd, Failure, "the body in the test namespaces exited by itself with " +
                                std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : status));
    _exit(0);
}

bool readBytes(int fd, void* data, size_t size)
{
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readText(int fd, std::string* text)
{
    uint32_t size = 0;
    if (!readBytes(fd, &size, sizeof size) || size > (64u << 20))
        return false;
    text->resize(size);
    return readBytes(fd, text->data(), size);
}

} // namespace

bool insideTestNamespaces()
{
    return g_inside;
}

int runInsideTestNamespaces(const std::string& command, std::string* output)
{
    if (!g_inside) {
        ADD_FAILURE() << "not inside the test namespaces, so not running: " << command;
        return -1;
    }
    int fds[2] = {-1, -1};
    if (output && pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    SpawnSpec spec;
    spec.argv = {"/bin/sh", "-c", command};
    spec.search = false;
    spec.outFd = fds[1];
    const pid_t pid = spawnProgram(spec);
    if (output) {
        close(fds[1]);
        char buffer[4096];
        ssize_t n;
        while (pid > 0 && ((n = read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
            if (n > 0)
                output->append(buffer, static_cast<size_t>(n));
        close(fds[0]);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool waitForCarrier(const std::string& interface, int timeoutMs)
{
    return eventually(
        [&] {
            std::string state;
            runInsideTestNamespaces("ip link show " + interface, &state);
            return state.find("LOWER_UP") != std::string::npos;
        },
        timeoutMs, 50000);
}

std::string runInTestNamespaces(const std::function<void()>& body, bool* skip)
{
    bool skipped = false;
    if (!skip)
        skip = &skipped;
    *skip = false;
    // Without the privilege the namespaces are simply not to be had here;
    // with it, their failure is a fault of the machine or of this code.
    const auto unavailable = [skip](const std::string& reason) {
        const std::string lacking = namespacePrivilegeLacking();
        *skip = !lacking.empty();
        return reason + (*skip ? " (" + lacking + ")" : " (this process runs as root with CAP_SYS_ADMIN)");
    };
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return unavailable("namespaces unavailable: " + systemError("pipe"));
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        const std::string why = systemError("fork");
        close(fds[0]);
        close(fds[1]);
        return unavailable("namespaces unavailable: " + why);
    }
    if (pid == 0) {
        close(fds[0]);
        // A test killed by its time-out takes the namespaces with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        makeNamespaces(fds[1], body);
    }
    close(fds[1]);

    std::string why;
    for (;;) {
        Kind kind;
        int32_t line = 0;
        std::string file, message;
        if (!readBytes(fds[0], &kind, 1) || !readBytes(fds[0], &line, sizeof line) || !readText(fds[0], &file) ||
            !readText(fds[0], &message))
            break;
        if (kind == Failure && !file.empty())
            ADD_FAILURE_AT(file.c_str(), line) << message;
        else if (kind == Failure)
            ADD_FAILURE() << message;
        else if (why.empty() && kind == Skipped) {
            why = "skipped in the test namespaces: " + message;
            *skip = true;
        } else if (why.empty()) {
            why = unavailable(message);
        }
    }
    close(fds[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "the process that makes the test namespaces ended with wait status " << status;
    return why;
}

} // namespace testsupport
