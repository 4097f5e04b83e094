#include "base/platform/ProcessSignals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <initializer_list>

namespace {

constexpr int kTermination[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read by the watching thread. Set once in main
// before any thread exists, never changed after.
int g_queue[2] = {-1, -1};
pid_t g_owner = 0;
sigset_t g_caught;
std::atomic<unsigned> g_queued{0};
static_assert(std::atomic<unsigned>::is_always_lock_free, "counted in a signal handler");

void queueSignal(int signal)
{
    const int saved = errno;
    if (getpid() != g_owner) {
        // A forked child between fork and exec: nobody here answers it.
        ::signal(signal, SIG_DFL);
        raise(signal);
    } else {
        // Non-blocking: a full queue holds plenty to answer already.
        const unsigned char number = static_cast<unsigned char>(signal);
        if (write(g_queue[1], &number, 1) == 1)
            g_queued.fetch_add(1);
    }
    errno = saved;
}

} // namespace

void ignoreBrokenPipes()
{
    struct sigaction action{};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGPIPE, &action, nullptr) != 0)
        perror("sigaction(SIGPIPE)");
}

void catchTerminationSignals()
{
    if (g_queue[0] >= 0)
        return;
    if (pipe2(g_queue, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("catchTerminationSignals: pipe2");
        g_queue[0] = g_queue[1] = -1;
        return;
    }
    g_owner = getpid();
    sigemptyset(&g_caught);
    struct sigaction action{};
    action.sa_handler = queueSignal;
    action.sa_flags = SA_RESTART;
    // One handler at a time: each queues its signal whole.
    sigemptyset(&action.sa_mask);
    for (int signal : kTermination)
        sigaddset(&action.sa_mask, signal);
    for (int signal : kTermination) {
        struct sigaction current{};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        if (sigaction(signal, &action, nullptr) == 0)
            sigaddset(&g_caught, signal);
        else
            perror("catchTerminationSignals: sigaction");
    }
    // A thread started before may have them blocked; this one must not.
    pthread_sigmask(SIG_UNBLOCK, &g_caught, nullptr);
}

bool terminationSignalsCaught()
{
    if (g_queue[0] < 0)
        return false;
    for (int signal : kTermination) {
        struct sigaction current{};
        if (sigismember(&g_caught, signal) == 1 && sigaction(signal, nullptr, &current) == 0 &&
            current.sa_handler == queueSignal)
            return true;
    }
    return false;
}

int terminationSignalFd()
{
    return g_queue[0];
}

int takeTerminationSignal()
{
    if (g_queue[0] < 0)
        return 0;
    unsigned char number = 0;
    ssize_t n;
    while ((n = read(g_queue[0], &number, 1)) < 0 && errno == EINTR) {
    }
    return n == 1 ? number : 0;
}

unsigned queuedTerminationSignals()
{
    return g_queued.load();
}

void releaseTerminationSignals()
{
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kTermination)
        if (sigismember(&g_caught, signal) == 1)
            sigaction(signal, &action, nullptr);
}

void endBySignal(int signal)
{
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    // Only a signal whose default is not to end the process comes back here.
    _exit(128 + signal);
}
