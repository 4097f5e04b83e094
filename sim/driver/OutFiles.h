#pragma once

#include <cstddef>
#include <string>

// The simulator's own output files (frames, the timeline, sample files, the
// copies it stages in the scratch root) and the folder they go to. A file is
// written whole or not at all: a full disk or a file-size limit leaves no
// half-written or empty file behind.

// Writes `size` bytes to `path` (mode 0644) through a temporary file beside
// it, renamed over it once every byte is written and it closed cleanly. 0,
// or the errno value of the failure; the temporary file is gone either way.
int writeWholeFile(const std::string& path, const void* data, size_t size);
int writeWholeFile(const std::string& path, const std::string& data);

// Copies the file at `from` to `to` as writeWholeFile writes. A file that
// already is `to` (the same file under another name) is left as it is. 0, or
// the errno value of the failure (ENOSPC for a full disk).
int copyWholeFile(const std::string& from, const std::string& to);

// Makes the output folder where missing (mode 0755) and checks that files
// can be made in it. False with the cause in `error` ("X is a file, not a
// folder", "cannot write in X: Read-only file system", ...).
bool prepareOutFolder(const std::string& dir, std::string& error);

// Holds the output folder for this run until the process ends (an advisory
// lock on it): two runs given one folder would take each other's frames for
// an earlier print's. False with the cause in `error` ("X is in use by
// another run of the simulator", ...).
bool holdOutFolder(const std::string& dir, std::string& error);
