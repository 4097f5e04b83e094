#include "base/platform/ProcessSignals.h"

#include <signal.h>

#include <cstdio>

void ignoreBrokenPipes()
{
    struct sigaction action{};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGPIPE, &action, nullptr) != 0)
        perror("sigaction(SIGPIPE)");
}
