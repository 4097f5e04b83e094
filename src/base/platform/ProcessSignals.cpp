#include "base/platform/ProcessSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

void ignoreBrokenPipes()
{
    struct sigaction action{};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGPIPE, &action, nullptr) != 0)
        perror("sigaction(SIGPIPE)");
}

void blockTerminationSignals()
{
    sigset_t block;
    sigemptyset(&block);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current{};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaddset(&block, signal);
    }
    const int rc = pthread_sigmask(SIG_BLOCK, &block, nullptr);
    if (rc != 0)
        fprintf(stderr, "pthread_sigmask: error %d\n", rc);
}

bool blockedTerminationSignals(sigset_t* set)
{
    sigemptyset(set);
    sigset_t blocked;
    if (pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0)
        return false;
    bool any = false;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        if (sigismember(&blocked, signal) == 1) {
            sigaddset(set, signal);
            any = true;
        }
    return any;
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
