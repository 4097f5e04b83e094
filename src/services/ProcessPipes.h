#pragma once

#include <string>

// Commands to the two companion processes over named pipes: the process
// manager (a command, no answer) and the shell runner (a command, answered
// by its 32-bit status in the machine's byte order). Both live outside this
// system. Paths are board paths; a missing pipe is made (mode 0777).
//
// Nothing here waits forever: a pipe without a reader fails at once, a
// write or an answer that does not come within its limit fails, a reader
// that goes away fails the write with EPIPE, and a path that is not a pipe
// is never opened for writing.
namespace processpipes {

constexpr const char* kProcessManagerPipe = "/project/bin/FIFO_MGR";
constexpr const char* kRunnerInPipe = "/tmp/fifo_syscall_in";
constexpr const char* kRunnerOutPipe = "/tmp/fifo_syscall_out";

constexpr int kWriteLimitMs = 5000;
constexpr int kStatusLimitMs = 30000;

// Writes the command to the process manager: 0 written, -1 not opened or not
// written whole.
int writeProcessManager(const std::string& cmd);

// Hands the command to the shell runner and waits up to statusLimitMs for
// its status: the status, or -1.
int ipcSystem(const std::string& cmd, int statusLimitMs = kStatusLimitMs);

} // namespace processpipes
