#pragma once

#include <cstddef>
#include <string>

// The simulator's own output files (frames, the timeline, sample files) and
// the folder they go to. A file is written whole or not at all: a full disk
// or a file-size limit leaves no half-written or empty file behind.

// Writes `size` bytes to `path` (mode 0644) through a temporary file beside
// it, renamed over it once every byte is written and it closed cleanly. 0,
// or the errno value of the failure; the temporary file is gone either way.
int writeWholeFile(const std::string& path, const void* data, size_t size);
int writeWholeFile(const std::string& path, const std::string& data);

// Makes the output folder where missing (mode 0755) and checks that files
// can be made in it. False with the cause in `error` ("X is a file, not a
// folder", "cannot write in X: Read-only file system", ...).
bool prepareOutFolder(const std::string& dir, std::string& error);

// Removes what an earlier print left in the output folder: frames
// ("frame-<layer>.png"), the timeline, and temporary files of either, and
// nothing else. False with the cause in `error` when one stays.
bool removeEarlierPrint(const std::string& dir, std::string& error);
