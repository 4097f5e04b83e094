#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// Durable rewrites. A file is replaced by writing a temporary file beside it,
// flushing that to storage, renaming it over the target and flushing the
// folder: a crash or a power cut at any instant leaves the old file or the new
// one, never a truncated mix. Every writer has its own temporary file, so two
// threads replacing the same file never mix their output; the last rename wins.
namespace durable {

// Replaces the file at a board path with `size` bytes of `data`, with exactly
// `mode` whatever the umask. 0, or a negative errno, logged with the path.
int replaceFile(const std::string& boardPath, const void* data, size_t size, mode_t mode = 0644);
int replaceFile(const std::string& boardPath, const std::string& data, mode_t mode = 0644);

// Removes temporary files that writers killed in mid-write left beside a
// board path. Call it when no other thread may be writing that file.
void removeStaleTemporaries(const std::string& boardPath);
// Whether a folder entry's name is one a writer gives its temporary file
// (".<name>.XXXXXX").
bool isTemporaryName(const std::string& entryName);

// The steps, on file-system paths (already under the root prefix), for
// writers that produce their content themselves (a file copy, for example).

// Creates a temporary file beside `fsPath` (mode 0600); the descriptor, or a
// negative errno. `tempPath` receives its name.
int openTemporary(const std::string& fsPath, std::string* tempPath);
// Flushes and closes the temporary file and renames it over `fsPath`, then
// flushes the folder. 0, or a negative errno after removing the temporary file.
// The descriptor is closed either way.
int commitTemporary(int fd, const std::string& tempPath, const std::string& fsPath);
// Closes and removes a temporary file that will not be used.
void discardTemporary(int fd, const std::string& tempPath);
// Writes all of `size` bytes, resuming after signals and short writes: 0, or a negative errno.
int writeAll(int fd, const void* data, size_t size);
// Flushes the entries of the folder that holds `fsPath` (after a file there
// was created, renamed or removed): 0, or a negative errno.
int syncParentFolder(const std::string& fsPath);

} // namespace durable
