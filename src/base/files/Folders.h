#pragma once

#include <sys/types.h>

#include <string>

// Folders made with the mode asked for, whatever the process umask: a start
// under umask 000 must not leave folders every local user may write.
namespace folders {

// Makes `fsPath` (a file-system path, already under the root prefix) and
// every missing folder above it, each with exactly `mode`; folders already
// there keep theirs. 0, or a negative errno.
int makeAll(const std::string& fsPath, mode_t mode = 0755);

// A folder that holds secrets: owned by this process's user and writable by
// it alone. One that another user owns, or that its group or others may
// write, is taken back (the bits to read and enter stay). 0, or a negative
// errno (also when the path is not a folder, or a link to one).
int keepPrivate(const std::string& fsPath);

} // namespace folders
