#include "base/threads/SignalWatch.h"

#include "base/log/LogWriter.h"
#include "base/platform/ProcessSignals.h"

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace {

// The handler stops a machine: it logs, locks and waits.
constexpr size_t kStackSize = 512 * 1024;
// Without a stop descriptor the thread looks at the stop this often.
constexpr int kStepWithoutFdMs = 100;

std::atomic<int> g_holdBackMs{0};

} // namespace

SignalWatch::SignalWatch(Handler handler) : m_handler(std::move(handler))
{
}

SignalWatch::~SignalWatch()
{
    m_stop.raise();
    if (m_thread)
        m_thread->join();
}

void SignalWatch::holdBackForTests(int ms)
{
    g_holdBackMs = ms;
}

int SignalWatch::start()
{
    if (m_thread)
        return 0;
    if (!terminationSignalsCaught()) {
        logger()->write(LogError, "Termination signals are not caught: they end the process as they come");
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
    const int queue = terminationSignalFd();
    while (!m_stop.raised()) {
        pollfd fds[2] = {{queue, POLLIN, 0}, {m_stop.fd(), POLLIN, 0}};
        const bool stopFd = m_stop.fd() >= 0;
        if (poll(fds, stopFd ? 2 : 1, stopFd ? -1 : kStepWithoutFdMs) < 0 && errno != EINTR) {
            logger()->write(LogError, "SignalWatch: %s", strerror(errno));
            break;
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        if (const int ms = g_holdBackMs.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        if (m_stop.raised())
            break; // answered below, as the watch ends
        if (const int signal = takeTerminationSignal()) {
            ++m_taken;
            answer(signal);
        }
    }
    // From here on the signals end the process as they come. One that came
    // before is answered here, and as nothing is left to answer it, it then
    // ends the process.
    releaseTerminationSignals();
    if (const int late = takeTerminationSignal()) {
        logger()->write(LogWarn, "Signal %d (%s) came as the signal watch ended", late, strsignal(late));
        answer(late);
        endBySignal(late);
    }
    return nullptr;
}

void SignalWatch::answer(int signal)
{
    m_handler(signal);
    // Those queued until the handler returned were answered by it; one that
    // comes after is answered anew.
    const unsigned queued = queuedTerminationSignals();
    while (static_cast<int>(queued - m_taken) > 0) {
        const int late = takeTerminationSignal();
        if (!late)
            break;
        ++m_taken;
        logger()->write(LogWarn, "Signal %d (%s) came while the last one was answered: nothing more to do", late,
                        strsignal(late));
    }
}
