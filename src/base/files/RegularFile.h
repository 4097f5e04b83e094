#pragma once

#include <string>

// Opens a file of the board's file system (a file-system path, already under
// the root prefix) for reading, taking regular files only. The open never
// waits: a FIFO or a device in a file's place would stall the reader for ever.
// Returns the descriptor (blocking again, close-on-exec), or -1 with errno set:
// EISDIR for a folder, EINVAL for any other kind of file.
int openRegularFile(const std::string& fsPath);
