#pragma once

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
