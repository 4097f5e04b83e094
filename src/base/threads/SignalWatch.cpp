#include "base/threads/SignalWatch.h"

#include "base/log/LogWriter.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// The handler stops a machine: it logs, locks and waits.
constexpr size_t kStackSize = 512 * 1024;
// Without a stop descriptor the thread looks at the stop this often.
constexpr int kStepWithoutFdMs = 100;

} // namespace

SignalWatch::SignalWatch(const sigset_t& watched, Handler handler)
    : m_signals(watched), m_handler(std::move(handler))
{
}

SignalWatch::~SignalWatch()
{
    m_stop.raise();
    if (m_thread)
        m_thread->join();
    if (m_fd >= 0)
        close(m_fd);
}

int SignalWatch::start()
{
    if (m_thread)
        return 0;
    m_fd = signalfd(-1, &m_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_fd < 0) {
        logger()->write(LogError, "SignalWatch: no signal descriptor: %s", strerror(errno));
        return -1;
    }
    m_thread = std::make_unique<FunctionThread>([this] { return watch(); });
    if (m_thread->start(false, kStackSize) != 0) {
        logger()->write(LogError, "SignalWatch: the thread could not be started");
        m_thread.reset();
        return -1;
    }
    return 0;
}

void* SignalWatch::watch()
{
    while (!m_stop.raised()) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stop.fd(), POLLIN, 0}};
        const bool stopFd = m_stop.fd() >= 0;
        const int n = poll(fds, stopFd ? 2 : 1, stopFd ? -1 : kStepWithoutFdMs);
        if (n < 0 && errno != EINTR) {
            logger()->write(LogError, "SignalWatch: %s", strerror(errno));
            return nullptr;
        }
        if (m_stop.raised())
            break;
        const int signal = take();
        if (signal <= 0)
            continue;
        m_handler(signal);
        for (int late = take(); late > 0; late = take())
            logger()->write(LogWarn, "Signal %d (%s) came while the last one was answered: nothing more to do", late,
                            strsignal(late));
    }
    return nullptr;
}

int SignalWatch::take()
{
    signalfd_siginfo info{};
    ssize_t n;
    while ((n = read(m_fd, &info, sizeof info)) < 0 && errno == EINTR) {
    }
    return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}
