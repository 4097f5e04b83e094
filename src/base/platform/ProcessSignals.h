#pragma once

#include <signal.h>

// Start-up signal set-up shared by every program of the system (the control
// program, the simulator, the test binaries). Call it first in main, before
// any thread exists, so that every thread inherits it.
//
// A peer that goes away (a remote client, a pipe reader, a FIFO reader) must
// never end the process: after this a write to a closed socket, pipe or FIFO
// fails with EPIPE and the caller handles it like any other failed write.
// Sockets also send with MSG_NOSIGNAL, so a library that resets the handler
// cannot bring the signal back for them. Programs the Shell starts get the
// default disposition back.
void ignoreBrokenPipes();

// The signals that ask the process to end: SIGTERM (a service stop), SIGINT
// (Ctrl-C) and SIGHUP (the terminal went away). A program that stops its
// machine safely on them (Printer::stopOnSignals) blocks them first in main,
// before any thread exists, so that none of its threads is ended by one and
// the watching thread takes each. A signal the program was started with
// ignored (nohup, a background job) stays ignored and is not blocked.
void blockTerminationSignals();
// The termination signals blocked in the calling thread, in `set`; false when none is.
bool blockedTerminationSignals(sigset_t* set);

// Ends the process by `signal`, as it would have ended without a handler:
// the default disposition back, the signal unblocked in the calling thread
// and raised again, so that a parent sees it in the wait status. Never returns.
[[noreturn]] void endBySignal(int signal);
