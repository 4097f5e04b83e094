#pragma once

#include <string>

namespace testsupport {

// Scratch folders of test processes carry their owner in their name,
// "talviks-test.<pid namespace>.<pid>.XXXXXX", so that a later run can tell
// the folders of a process that was killed (by a time limit, say) before it
// could remove its own.

// Makes a fresh scratch folder in `parent` named for this process; empty
// (errno set) when it cannot.
std::string makeScratchFolder(const std::string& parent);

// Removes a folder and everything in it, never following a link nor
// crossing into another file system.
void removeScratchFolder(const std::string& path);

// Removes the scratch folders in `parent` whose owner is gone: named as above,
// a real folder (not a link) of this user, owned by a process of this pid
// namespace that no longer exists. Anything else is left alone, the folders
// of live processes above all. The number of folders removed.
int removeStaleScratchFolders(const std::string& parent);

} // namespace testsupport
