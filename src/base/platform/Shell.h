#pragma once

#include "base/platform/TimedRun.h"

#include <string>
#include <vector>

// Every external program of the system runs through here, so that tests and
// the simulator can record commands instead of running them. The runner in
// use is platform().shell() (Platform.h): the real one unless another was installed.
//
// Under a scratch root (tests, simulator) the real runner starts every
// program inside a sandbox that leaves the host's network, clock, processes,
// mounts and files alone (see Sandbox.h). Where none can be made it runs
// nothing, logs why and answers -1 (a timed run: not started, with the reason).
class Shell
{
public:
    virtual ~Shell();

    // Runs a command line with "/bin/sh -c". The raw wait status (as from
    // waitpid; 127 as exit code when the shell cannot start), or -1 when the
    // command could not be started or waited for, or no sandbox could be made.
    virtual int run(const std::string& command);
    // As run(), appending the command's standard output to `output`.
    virtual int capture(const std::string& command, std::string* output);
    // Runs a program found on PATH with the given arguments and no shell in
    // between: names and passwords need no quoting. Standard output is
    // appended to `output` when given. Results as run().
    virtual int exec(const std::string& program, const std::vector<std::string>& args,
                     std::string* output = nullptr);
    // Runs a program with limits, capturing both output streams. The program
    // leads a process group of its own; an overrun or a cancel kills the
    // whole group. Returns when the program exits, even when a daemon it left
    // behind still holds its output open.
    virtual RunResult runTimed(const TimedRun& run);
};

// A word the shell reads back as exactly `text`, for command lines built from
// names, passwords or paths that come from users, disks or peers.
std::string shellQuote(const std::string& text);

