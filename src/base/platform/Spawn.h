#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// How a program is started (by the Shell seam, and by the layer projection for its renderer).
struct SpawnSpec
{
    std::vector<std::string> argv;
    bool search = true;       // look argv[0] up on PATH
    int inFd = -1;            // standard input of the child, when not -1
    int outFd = -1;           // standard output of the child, when not -1
    int errFd = -1;           // standard error of the child, when not -1
    bool ownGroup = false;    // lead a process group of its own
    bool nullInput = false;   // standard input from /dev/null
};

// Starts the program with no signal blocked and every handler at its default
// (engine threads block timer signals, the process ignores SIGPIPE), and
// with no descriptor but its standard input, output and error. Its pid,
// or -1 with errno set when it could not be started.
pid_t spawnProgram(const SpawnSpec& spec);

// Waits for a child to end, resuming after signals: its wait status, or -1
// with errno set.
int waitChild(pid_t pid);

// Reads `fd` to its end, keeping at most `cap` bytes of it in `out`.
void readCapped(int fd, std::string* out, size_t cap);
