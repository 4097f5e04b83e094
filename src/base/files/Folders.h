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

// A folder of the process's own in a place every user may write (/tmp): one
// that is there is used only when it is a folder, not a link, owned by this
// process's user and writable by it alone. Anything else in its place is
// moved out of it at once and removed, links removed rather than followed,
// and the folder made afresh with exactly `mode`. Folders above it are made
// as makeAll makes them. 0, or a negative errno (-EEXIST when another made
// the folder again meanwhile).
int makeOwn(const std::string& fsPath, mode_t mode = 0755);

// A folder that holds secrets: owned by this process's user and writable by
// it alone. One that another user owns, or that its group or others may
// write, is taken back (the bits to read and enter stay). 0, or a negative
// errno (also when the path is not a folder, or a link to one).
int keepPrivate(const std::string& fsPath);

} // namespace folders
