// Timed program runs of the Shell seam: limits, captured output, process
// groups killed on overrun or cancel.
#include "base/platform/Shell.h"

#include "base/platform/Clock.h"
#include "base/platform/Sandbox.h"
#include "base/platform/Spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// Without a pidfd the runner looks for the child's end this often.
constexpr int kExitPollMs = 20;

int64_t nowMs()
{
    return timespecToNs(kernelMonotonicNow()) / 1000000;
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// One output stream of the child: the read end of its pipe and what came.
struct Stream
{
    int fd = -1;
    std::string* text = nullptr;

    // Reads what is there without blocking; closes the pipe at its end.
    void drain()
    {
        char buffer[16384];
        while (fd >= 0) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return;
            if (n <= 0) {
                close(fd);
                fd = -1;
                return;
            }
            if (text->size() < RunResult::kOutputCap)
                text->append(buffer, std::min(static_cast<size_t>(n), RunResult::kOutputCap - text->size()));
        }
    }

    ~Stream()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The program and everything it started in its group.
int killGroup(pid_t pid)
{
    kill(-pid, SIGKILL);
    return waitChild(pid);
}

} // namespace

TimedRun TimedRun::commandLine(const std::string& line)
{
    TimedRun run;
    run.argv = splitCommandLine(line);
    return run;
}

bool TimedRun::cancelRequested() const
{
    if (cancelFd < 0)
        return false;
    pollfd entry{cancelFd, POLLIN, 0};
    int rc;
    while ((rc = poll(&entry, 1, 0)) < 0 && errno == EINTR) {
    }
    return rc > 0 && (entry.revents & POLLIN);
}

int RunResult::exitCode() const
{
    if (!started || timedOut || cancelled || status < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::vector<std::string> splitCommandLine(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inQuote = false;
    int quotes = 0;
    for (char c : line) {
        if (c == '"') {
            if (++quotes == 3) {
                quotes = 0;
                word += c;
            }
            continue;
        }
        if (quotes > 0) {
            if (quotes == 1)
                inQuote = !inQuote;
            quotes = 0;
        }
        if (!inQuote && isspace(static_cast<unsigned char>(c))) {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

RunResult Shell::runTimed(const TimedRun& run)
{
    RunResult result;
    if (run.argv.empty()) {
        result.why = "empty command";
        return result;
    }
    if (run.cancelRequested()) {
        result.cancelled = true;
        result.why = "cancelled";
        return result;
    }

    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        result.why = std::string("pipe: ") + strerror(errno);
        for (int fd : {outPipe[0], outPipe[1]})
            if (fd >= 0)
                close(fd);
        return result;
    }
    SpawnSpec spec;
    spec.argv = run.argv;
    spec.outFd = outPipe[1];
    spec.errFd = errPipe[1];
    spec.ownGroup = true;
    spec.nullInput = true;
    const int64_t startMs = nowMs();
    const pid_t pid = spawnShellProgram(spec, &result.why);
    close(outPipe[1]);
    close(errPipe[1]);
    Stream out{outPipe[0], &result.output};
    Stream err{errPipe[0], &result.errors};
    if (pid < 0)
        return result;
    fcntl(out.fd, F_SETFL, O_NONBLOCK);
    fcntl(err.fd, F_SETFL, O_NONBLOCK);

    // The start is done inside spawnShellProgram; only a stalled machine overruns it.
    if (nowMs() - startMs > run.startLimitMs) {
        result.status = killGroup(pid);
        result.timedOut = true;
        result.why = "did not start in time";
        return result;
    }
    result.started = true;

    // The child's end, not the end of its output: a daemon it started may
    // keep the pipes open for ever.
    const int pidFd = openPidFd(pid);
    const int64_t deadlineMs = nowMs() + std::max(run.finishLimitMs, 0);
    for (;;) {
        pollfd fds[4];
        nfds_t count = 0;
        for (int fd : {out.fd, err.fd, pidFd, run.cancelFd})
            if (fd >= 0)
                fds[count++] = {fd, POLLIN, 0};
        const int64_t leftMs = deadlineMs - nowMs();
        const int timeoutMs = static_cast<int>(std::max<int64_t>(0, pidFd >= 0 ? leftMs : std::min<int64_t>(leftMs, kExitPollMs)));
        if (poll(fds, count, timeoutMs) < 0 && errno != EINTR) {
            result.status = killGroup(pid);
            result.why = std::string("poll: ") + strerror(errno);
            break;
        }
        out.drain();
        err.drain();
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            result.status = status;
            out.drain();
            err.drain();
            break;
        }
        if (run.cancelRequested()) {
            result.status = killGroup(pid);
            result.cancelled = true;
            break;
        }
        if (nowMs() >= deadlineMs) {
            result.status = killGroup(pid);
            result.timedOut = true;
            break;
        }
    }
    if (pidFd >= 0)
        close(pidFd);
    return result;
}
