#pragma once

#include <cstdio>
#include <string>

// Opens a slice file (file-system path) for binary reading. The open never
// waits: a FIFO or a device would block the reader for ever, so only a
// regular file is taken. Returns the stream, or null with errno set; errno is
// EINVAL when the path names something other than a regular file.
FILE* openSliceFile(const std::string& path);
