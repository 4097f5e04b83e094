#include "driver/SimOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

FILE* g_out = nullptr;

} // namespace

FILE* simOut()
{
    return g_out ? g_out : stdout;
}

bool divertEngineTraces(const std::string& path)
{
    fflush(stdout);
    const int traces = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (traces < 0) {
        fprintf(stderr, "talviks-sim: cannot write %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    const int terminal = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* out = terminal >= 0 ? fdopen(terminal, "w") : nullptr;
    if (!out || dup2(traces, STDOUT_FILENO) < 0) {
        fprintf(stderr, "talviks-sim: cannot divert the engine's traces: %s\n", strerror(errno));
        if (out)
            fclose(out);
        else if (terminal >= 0)
            close(terminal);
        close(traces);
        return false;
    }
    close(traces);
    // Progress lines must show as they are written, as on a terminal.
    setvbuf(out, nullptr, _IOLBF, 0);
    g_out = out;
    return true;
}
