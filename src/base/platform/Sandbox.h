#pragma once

#include <sys/types.h>

#include <string>

struct SpawnSpec;

// Under a scratch root (tests, the simulator on a shared host) every program
// the real Shell starts runs in a sandbox made by bubblewrap, since no reading
// of a command line can tell what a shell and its tools will do:
//   - the host's file system read-only, with a device folder of its own
//     (null, zero, random, a private pty instance) and its own /proc, whose
//     kernel settings (/proc/sys) are read-only;
//   - writable only the scratch root, the process's temporary folder (TMPDIR)
//     and a private /tmp and /run;
//   - its own pid, IPC and UTS namespaces: nothing outside can be signalled,
//     and whatever the program leaves behind dies when it ends;
//   - its own network namespace with only loopback, unless the caller runs
//     in a network namespace other than the one the process started in (a
//     test's own, made by the test namespaces): then it shares that one, so
//     DHCP and daemons over a veth keep working;
//   - every capability dropped and no way to gain one; sharing a test's own
//     network it keeps only the network ones (raw sockets, addresses,
//     low ports), which act on that namespace alone;
//   - it dies with the process that started it.
// Where the sandbox cannot be made, nothing runs: the refusal is logged with
// the reason. On the board (no scratch root) programs start as they are.

// How the real Shell starts a program, as spawnProgram does: its pid, or -1
// with errno set (ENOENT: not found; EPERM: no sandbox) and the reason in `why`.
pid_t spawnShellProgram(const SpawnSpec& spec, std::string* why);

// Empty when the real Shell can start programs here (on the board always);
// otherwise why it cannot, for tests that need it to skip with.
std::string sandboxUnavailable();
