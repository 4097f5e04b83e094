#pragma once

#include "base/platform/Sandbox.h"

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// The scratch root of this test process (also in TALVIKS_ROOT).
const std::string& scratchRoot();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// An executable script (mode 0755) at `path`, its folder made when missing.
void writeScript(const std::string& path, const std::string& text);
std::vector<std::string> splitLines(const std::string& text);
bool fileExists(const std::string& path);
// Entries of a folder, "." and ".." not counted.
int entriesIn(const std::string& folder);
// mkdir -p
void makeDirs(const std::string& path);

// A duration for sleep that no other process carries ("600.<digits>"), so
// that the sleep can be found again by processWithArgument: a program in
// the sandbox has a process id of its own, not the one the test sees.
std::string uniqueSleep(int seconds);
// Whether a process this one can see carries `argument` as one of its
// command-line words.
bool processWithArgument(const std::string& argument);

// Monotonic milliseconds, read straight from the kernel.
long long monotonicMs();

// Runs `call` on a thread while nobody writes to the FIFO at `fifo` (a
// file-system path). Should the call wait on it, a writer comes by after a
// generous wait, so that the test fails instead of hanging. call's result.
int callBesideIdleFifo(const std::string& fifo, const std::function<int()>& call);

// Runs a program (argv[0] a path) with `extraEnv` ("NAME=value", ahead of
// this process's environment) and its output in the file `output`; kills it
// when it overruns `boundMs`. The wait status, or -1 when it overran or could
// not start.
int runBounded(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const std::string& output, int boundMs);
// Starts a program as runBounded does, without waiting for it: its pid, or -1.
// It leads a process group of its own, which a test may signal as a terminal does.
pid_t startProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                   const std::string& output);
// The processes `parent` started and has not reaped.
std::vector<pid_t> childProcesses(pid_t parent);

// Polls a condition every pollUs microseconds of real time until it holds
// (true) or timeoutMs pass (false).
bool eventually(const std::function<bool()>& condition, int timeoutMs = 10000, int pollUs = 1000);

// Runs `call` with this process's file-size limit `room` bytes past the
// present end of the file at `path` (a file-system path), which stands in
// for a full disk: a write crossing it gets in only in part. The standard
// output of `call`.
std::string stdoutWithDiskFullPast(const std::string& path, long room, const std::function<void()>& call);

// Empty where this process may make namespaces (root, with CAP_SYS_ADMIN in
// effect); otherwise what it lacks.
std::string namespacePrivilegeLacking();

// Empty when the sandbox of the Shell seam can be made here. Otherwise why
// not, with *skip set where the machine lacks what it needs (no bubblewrap,
// no privilege for namespaces); left false where it has both, so that the
// sandbox's failure is a fault.
std::string sandboxLacking(bool* skip);

} // namespace testsupport

// For a test that runs programs through the real Shell seam. Where this
// machine lacks what the sandbox needs (bubblewrap, or the privilege to make
// namespaces) the test is skipped saying why; where it has both and the
// sandbox still cannot be made, the test fails with the cause.
#define SKIP_WITHOUT_SANDBOX()                                                                                 \
    do {                                                                                                       \
        bool talviksSkip_ = false;                                                                             \
        const std::string talviksNoSandbox_ = testsupport::sandboxLacking(&talviksSkip_);                      \
        if (talviksSkip_)                                                                                      \
            GTEST_SKIP() << talviksNoSandbox_;                                                                 \
        if (!talviksNoSandbox_.empty())                                                                        \
            FAIL() << talviksNoSandbox_;                                                                       \
    } while (0)
