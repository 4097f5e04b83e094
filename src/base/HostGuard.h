#pragma once

#include <string>
#include <vector>

// What the real Shell runner lets run under a scratch root (tests and the
// simulator on a shared host): only programs found under the scratch root
// (the stubs a test puts first on PATH) and a short list of harmless tools
// the system needs (the shell, text tools, uname, qrencode, md5sum, tar,
// ...). Everything else is refused, since it may change the host's network,
// clock, processes, mounts or kernel settings. On the board (no scratch
// root) everything runs.
//
// Each answers true when the run may go ahead; otherwise logs the refusal
// and puts the reason in `why`.

// A command line for "/bin/sh -c".
bool hostGuardAllowsCommand(const std::string& command, std::string* why);
// A program and its arguments, run with no shell.
bool hostGuardAllowsProgram(const std::vector<std::string>& argv, std::string* why);

// A path made absolute (against the working folder) and lexically normal:
// no ".", "..", repeated or trailing slashes. Filters of paths match this
// form, so "/dev/./fb0" or "//sys/..." cannot slip past them.
std::string absoluteNormalPath(const std::string& path);
