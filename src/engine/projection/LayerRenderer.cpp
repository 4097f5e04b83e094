#include "engine/projection/LayerRenderer.h"

#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Spawn.h"
#include "base/platform/TimedRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace layerrender;

namespace {

// A renderer is ready in well under a second; the time of a layer counts from then.
constexpr int kStartLimitMs = 10000;
// What an exchange logs of the renderer's standard error: enough to tell what
// it found wrong with a layer, never a flood.
constexpr int kErrorLines = 10;
constexpr size_t kErrorLineBytes = 240;
// Read of it at a time: a renderer that writes without end holds nothing up.
constexpr size_t kErrorDrainBytes = 64 * 1024;

// Whether a reply answers request `serial` with what fits the panel, every
// sum in 64 bits: nothing of it is read before this holds.
bool validReply(const ReplyHead& reply, uint32_t serial, const Geometry& g)
{
    if (reply.magic != kReplyMagic || reply.serial != serial || reply.reasonBytes > kMaxReasonBytes)
        return false;
    switch (reply.outcome) {
    case Outcome::Refused:
    case Outcome::NotSvg:
    case Outcome::NoMemory:
        return true;
    case Outcome::Drawn:
        break;
    default:
        return false;
    }
    if (reply.plane == Plane::Gray)
        return true; // the whole panel
    const int64_t x = reply.x, y = reply.y, w = reply.w, h = reply.h;
    return reply.plane == Plane::Colour && x >= 0 && y >= 0 && w >= 0 && h >= 0 && x + w <= g.width &&
           y + h <= g.height;
}

// The kernel's count of processes it ended for want of memory; -1 when it
// keeps none.
long long machineOomKills()
{
    FILE* vmstat = fopen("/proc/vmstat", "re");
    if (!vmstat)
        return -1;
    long long kills = -1;
    char name[64];
    long long value;
    while (fscanf(vmstat, "%63s %lld", name, &value) == 2)
        if (!strcmp(name, "oom_kill")) {
            kills = value;
            break;
        }
    fclose(vmstat);
    return kills;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) == kExitBudgetRanOut)
        return "ran out of its memory budget";
    if (WIFSIGNALED(status))
        return "ended by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    if (WIFEXITED(status))
        return "ended with exit code " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

} // namespace

std::vector<std::string> layerRendererCommand()
{
    if (const char* configured = getenv(LayerRenderer::kEnvironment)) {
        std::vector<std::string> words = splitCommandLine(configured);
        if (!words.empty())
            return words;
    }
    std::vector<std::string> words;
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string();
    dir.erase(dir.find_last_of('/') + 1);
    words.push_back(dir + LayerRenderer::kProgramName);
    return words;
}

LayerRenderer::~LayerRenderer()
{
    stop();
}

void LayerRenderer::stop()
{
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitChild(m_pid);
        m_pid = -1;
    }
    if (m_errors >= 0) {
        drainErrors();
        if (!m_errorLine.empty())
            logErrorLine();
        close(m_errors);
        m_errors = -1;
    }
}

void LayerRenderer::drainErrors()
{
    char buffer[4096];
    for (size_t total = 0; m_errors >= 0 && total < kErrorDrainBytes;) {
        const ssize_t n = read(m_errors, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        total += size_t(n);
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n')
                logErrorLine();
            else if (m_errorLine.size() < kErrorLineBytes)
                m_errorLine += buffer[i];
        }
    }
}

void LayerRenderer::logErrorLine()
{
    if (m_errorLines < kErrorLines)
        logger()->write(LogWarn, "Layer renderer: %s", m_errorLine.c_str());
    else if (m_errorLines == kErrorLines)
        logger()->write(LogWarn, "Layer renderer: more of its messages on this layer are not logged");
    m_errorLines = std::min(m_errorLines + 1, kErrorLines + 1);
    m_errorLine.clear();
}

int LayerRenderer::fail(int code, const std::string& why)
{
    m_why = why;
    stop();
    return code;
}

int LayerRenderer::ended(const char* what)
{
    std::string why = std::string("the layer renderer ") + what;
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
    if (m_pid > 0) {
        // Gone already, or going: its own end is what it tells, not our kill.
        int status = 0;
        pid_t done = 0;
        const timespec giveUp = kernelDeadlineAfterMs(1000);
        while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 &&
               timespecToNs(kernelMonotonicNow()) < timespecToNs(giveUp))
            usleep(1000);
        if (done == m_pid) {
            why += ": " + describeStatus(status);
            m_pid = -1;
            if (WIFEXITED(status) && WEXITSTATUS(status) == kExitBudgetRanOut)
                return fail(-ENOMEM, why);
            // Only the kernel's memory killer ends it so without a word of ours.
            if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
                const long long kills = machineOomKills();
                if (kills < 0 || m_oomKills < 0 || kills > m_oomKills)
                    return fail(-ENOMEM, why + (kills < 0 ? ", most likely for want of memory"
                                                          : ", as the machine's memory ran out"));
            }
        }
    }
    return fail(-EIO, why);
}

bool LayerRenderer::reapIfGone()
{
    if (m_pid <= 0)
        return true;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) != m_pid)
        return false;
    m_pid = -1;
    stop();
    return true;
}

int LayerRenderer::start(const Geometry& geometry)
{
    const std::vector<std::string> command = layerRendererCommand();
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return fail(-ENOEXEC, std::string("no socket for the layer renderer: ") + strerror(errno));
    // Its messages wait in the pipe until an exchange ends; once it is full
    // they are dropped, never waited for.
    int errors[2];
    if (pipe2(errors, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        close(ends[0]);
        close(ends[1]);
        return fail(-ENOEXEC, std::string("no pipe for the layer renderer: ") + strerror(error));
    }
    SpawnSpec spec;
    spec.argv = command;
    spec.argv.push_back(std::to_string(memoryBudget(geometry.width, geometry.height)));
    spec.argv.push_back(std::to_string(getpid()));
    spec.inFd = ends[1];
    spec.outFd = ends[1];
    spec.errFd = errors[1];
    // A signal to the printer's process group (Ctrl-C at a terminal, a
    // service stop) is the printer's to answer: the renderer ends with it.
    spec.ownGroup = true;
    m_oomKills = machineOomKills();
    const pid_t pid = spawnProgram(spec);
    const int error = errno;
    close(ends[1]);
    close(errors[1]);
    if (pid < 0) {
        close(ends[0]);
        close(errors[0]);
        return fail(-ENOEXEC, "the layer renderer " + command.back() + " cannot be started: " + strerror(error));
    }
    m_pid = pid;
    m_socket = ends[0];
    m_errors = errors[0];
    fcntl(m_socket, F_SETFL, fcntl(m_socket, F_GETFL) | O_NONBLOCK);
    char ready = 0;
    const int rc = receive(&ready, 1);
    if (rc == -ETIMEDOUT)
        return fail(-ENOEXEC, "the layer renderer " + command.back() + " did not say it was ready within " +
                                  std::to_string(kStartLimitMs) + " ms");
    if (rc != 0)
        return rc == -EIO || rc == -ENOMEM ? fail(-ENOEXEC, m_why) : rc;
    if (ready != kReady)
        return fail(-ENOEXEC, "the layer renderer " + command.back() + " does not answer as one");
    return 0;
}

int LayerRenderer::waitFor(short events)
{
    for (;;) {
        const int64_t left = (timespecToNs(m_deadline) - timespecToNs(kernelMonotonicNow()) + 999999) / 1000000;
        if (left <= 0)
            return fail(-ETIMEDOUT, "the layer renderer did not finish in time");
        pollfd fds[2] = {{m_socket, events, 0}, {m_cancelFd, POLLIN, 0}};
        const int n = poll(fds, m_cancelFd >= 0 ? 2 : 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
        if (n < 0 && errno != EINTR)
            return fail(-EIO, std::string("waiting for the layer renderer: ") + strerror(errno));
        if (n <= 0)
            continue;
        if (m_cancelFd >= 0 && (fds[1].revents & POLLIN))
            return fail(-ECANCELED, "the layer is no longer wanted");
        if (fds[0].revents)
            return 0;
    }
}

int LayerRenderer::transfer(char* bytes, size_t size, bool sending)
{
    while (size > 0) {
        if (m_socket < 0)
            return fail(-EIO, "the layer renderer is not running");
        const int rc = waitFor(sending ? POLLOUT : POLLIN);
        if (rc != 0)
            return rc;
        const ssize_t n = sending ? send(m_socket, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT)
                                  : recv(m_socket, bytes, size, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return ended(sending ? "stopped taking the layer" : "ended before its answer was complete");
        bytes += n;
        size -= size_t(n);
    }
    return 0;
}

int LayerRenderer::sendAll(const void* from, size_t size)
{
    return transfer(const_cast<char*>(static_cast<const char*>(from)), size, true);
}

int LayerRenderer::receive(void* to, size_t size)
{
    return transfer(static_cast<char*>(to), size, false);
}

void LayerRenderer::stopIfNotQuiet()
{
    if (m_socket < 0)
        return;
    char byte;
    const ssize_t n = recv(m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    // Bytes no request asked for (a stale answer would pass for the next
    // layer), or the end of a renderer on its way out.
    if (n > 0)
        logger()->write(LogWarn, "The layer renderer sent what no layer asked for: it is replaced");
    stop();
}

int LayerRenderer::request(const Geometry& geometry, const std::string& document, int timeLimitMs, int cancelFd,
                           ReplyHead& reply, std::string& reason)
{
    m_why.clear();
    m_cancelFd = cancelFd;
    m_errorLines = 0;
    if (document.size() > kMaxDocumentBytes)
        return fail(-EIO, "a layer of " + std::to_string(document.size()) + " bytes is more than the renderer takes");
    // A renderer that ended while idle (its own end, or the machine's memory
    // running short) is replaced, and so is one that spoke meanwhile.
    reapIfGone();
    stopIfNotQuiet();
    if (m_pid <= 0) {
        m_deadline = kernelDeadlineAfterMs(kStartLimitMs);
        const int rc = start(geometry);
        if (rc != 0)
            return rc;
    }
    m_deadline = kernelDeadlineAfterMs(timeLimitMs);
    RequestHead head;
    head.serial = ++m_serial;
    head.geometry = geometry;
    head.documentBytes = static_cast<uint32_t>(document.size());
    int rc = sendAll(&head, sizeof head);
    if (rc == 0)
        rc = sendAll(document.data(), document.size());
    if (rc == 0)
        rc = receive(&reply, sizeof reply);
    if (rc != 0)
        return rc;
    if (!validReply(reply, head.serial, geometry))
        return fail(-EIO, "the layer renderer answered what cannot be read");
    reason.assign(reply.reasonBytes, '\0');
    rc = receive(&reason[0], reason.size());
    drainErrors();
    return rc;
}
