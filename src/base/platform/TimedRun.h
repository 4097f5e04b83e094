#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Program runs with limits, for jobs that must never hang on an external
// program (Shell::runTimed runs them).

// One program run with limits: no shell in between.
struct TimedRun
{
    // argv[0] is looked up on PATH.
    std::vector<std::string> argv;
    // Limit for the program to start, then for it to finish once started.
    int startLimitMs = 30000;
    int finishLimitMs = 30000;
    // Lets another thread stop the run (a worker that is asked to stop): the
    // run is cancelled once this descriptor is readable (a raised
    // StopSignal's), and a run asked for while it is readable does not
    // start. It is polled, never read. -1: none.
    int cancelFd = -1;

    // The cancel descriptor is readable now.
    bool cancelRequested() const;

    // A command line split into program and arguments (see splitCommandLine).
    static TimedRun commandLine(const std::string& line);
};

struct RunResult
{
    // Output beyond this, on either stream, is read and dropped.
    static constexpr size_t kOutputCap = 1u << 20;

    bool started = false;   // the program was found and started
    bool timedOut = false;  // it overran a limit and was killed with its process group
    bool cancelled = false; // it was cancelled and killed with its process group
    int status = -1;        // raw wait status; -1 when never started or not waited for
    std::string output;     // standard output, at most kOutputCap bytes
    std::string errors;     // standard error, at most kOutputCap bytes
    std::string why;        // why it did not start (refused, not found), for the log

    // The exit code of a program that ended by itself; -1 when it did not
    // start, overran, was cancelled or was killed by a signal (in the sandbox
    // under a scratch root a signal shows as 128 + its number, as a shell
    // tells it).
    int exitCode() const;
    bool succeeded() const { return exitCode() == 0; }
};

// Splits a command line into program and arguments as the Qt process class
// does, with no shell: blanks separate words, double quotes group them, and
// three double quotes in a row stand for one literal double quote.
std::vector<std::string> splitCommandLine(const std::string& line);
