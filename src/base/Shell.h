#pragma once

#include <atomic>
#include <string>
#include <vector>

// Lets another thread stop a timed run (a worker that is asked to stop).
// Cancelling is sticky: a run started after it ends at once.
class RunCanceller
{
public:
    RunCanceller();
    ~RunCanceller();
    RunCanceller(const RunCanceller&) = delete;
    RunCanceller& operator=(const RunCanceller&) = delete;

    void cancel();
    bool cancelled() const;
    // Readable once cancelled, for the runner's poll.
    int fd() const { return m_fds[0]; }

private:
    int m_fds[2];
    std::atomic<bool> m_cancelled{false};
};

// One program run with limits: no shell in between.
struct TimedRun
{
    // argv[0] is looked up on PATH.
    std::vector<std::string> argv;
    // Limit for the program to start, then for it to finish once started.
    int startLimitMs = 30000;
    int finishLimitMs = 30000;
    RunCanceller* canceller = nullptr; // optional

    // A command line split into program and arguments (see splitCommandLine).
    static TimedRun commandLine(const std::string& line);
    // The run as a command line, for logs and records.
    std::string text() const;
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
    // start, overran, was cancelled or was killed by a signal.
    int exitCode() const;
    bool succeeded() const { return exitCode() == 0; }
};

// Every external program of the system runs through here, so that tests and
// the simulator can record commands instead of running them. The runner in
// use is the real one unless another was installed.
//
// Under a scratch root (tests, simulator) the real runner runs only stubs
// found under the scratch root and a short list of harmless tools (see
// HostGuard.h): anything else might change the host's network, clock,
// processes, mounts or kernel settings. It logs why and answers -1 (a timed
// run: not started, with the reason).
class Shell
{
public:
    virtual ~Shell();

    static Shell& instance();
    // Installs a runner (not owned); nullptr puts the real one back.
    static void install(Shell* shell);

    // Runs a command line with "/bin/sh -c". The raw wait status (as from
    // waitpid; 127 as exit code when the shell cannot start), or -1 when the
    // command could not be started or waited for, or was refused.
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

// Splits a command line into program and arguments as the Qt process class
// does, with no shell: blanks separate words, double quotes group them, and
// three double quotes in a row stand for one literal double quote.
std::vector<std::string> splitCommandLine(const std::string& line);

// A word the shell reads back as exactly `text`, for command lines built from
// names, passwords or paths that come from users, disks or peers.
std::string shellQuote(const std::string& text);

