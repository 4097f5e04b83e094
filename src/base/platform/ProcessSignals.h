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
// machine safely on them (Printer::stopOnSignals) catches them first in main,
// before any thread exists: from then on each of them, sent to the process or
// to any one of its threads, is queued for the watching thread
// (takeTerminationSignal) instead of ending the process, and waits there
// until one takes it. A signal the program was started with ignored (nohup, a
// background job) stays ignored. The handler restarts interrupted calls
// where the kernel can; waits resume after EINTR everywhere else. Children
// get the default action back when they start a program, and a forked child
// that has not yet done so is ended by the signal as if nothing caught it.
void catchTerminationSignals();
// Whether any termination signal is caught (and not released).
bool terminationSignalsCaught();
// Readable while a caught signal waits to be taken; -1 when none is caught.
int terminationSignalFd();
// The next caught signal waiting, or 0 when none does.
int takeTerminationSignal();
// How many caught signals were queued so far (a count that may wrap).
unsigned queuedTerminationSignals();
// Gives the caught signals their default action back: from now on they end
// the process as they come. What was caught before stays to be taken.
void releaseTerminationSignals();

// Ends the process by `signal`, as it would have ended without a handler:
// the default disposition back, the signal unblocked in the calling thread
// and raised again, so that a parent sees it in the wait status. Never returns.
[[noreturn]] void endBySignal(int signal);
