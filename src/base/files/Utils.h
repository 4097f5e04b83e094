#pragma once

#include <QString>

#include <cstdint>
#include <ctime>
#include <string>

// Helpers shared by the pages and services: free functions, no state. This
// header holds the file, disk and process helpers; the mask image's path is in
// config/MaskImage.h, the network helpers in net/NetUtils.h, the colours,
// pixmaps and thumbnails in images/ImageUtils.h (the only ones that need Qt Gui).
// Paths are board paths ("/data/model/x.qds", "/media/sda1/..."): they reach
// the file system under the root prefix, converted to UTF-8.
namespace Utils {

// The file-system path of a board path (UTF-8, under the root prefix).
std::string fsPath(const QString& boardPath);

// --- Path tests and names ---
bool isFile(const QString& path);
bool isDir(const QString& path);
// Prints "stat" with the cause when the path cannot be examined.
void statPath(const QString& path);
// As above; the time is not applied to the file.
void statPath(const QString& path, time_t time);
// Last access time in seconds since the epoch, or 0.
time_t fileAccessTime(const QString& path);
// dir, a separator, name (no check for a separator already there).
QString joinPath(const QString& dir, const QString& name);
// Whether a ".svgx" file was written to its end: "</svg>" in its last 512 bytes.
bool isSvgxComplete(const QString& path);

// --- Disk and time ---
// Size and free space (blocks free to the super-user) of the file system
// holding `path`, in bytes: 0, or a negative errno (logged).
int getDiskInfo(const std::string& path, uint64_t& total, uint64_t& free);
void secondsToHourMin(int seconds, int& hours, int& minutes);
void secondsToHourMinSec(int seconds, int& hours, int& minutes, int& secs);
// Today, 12:00:00 local time, in seconds since the epoch.
qint64 todayNoonTime();

// --- File changes: each reaches the storage before it returns ---
// True when nothing is left at the path (also when nothing was there).
bool removeFile(const QString& path);

enum CopyResult {
    COPY_OK = 0,
    COPY_NO_SOURCE = 2,      // source missing, unreadable or not a regular file
    COPY_NO_DESTINATION = 3, // destination not creatable, a folder, or the source itself
    COPY_READ_ERROR = 4,
    COPY_WRITE_ERROR = 5,    // also a failed flush or rename; the old destination stays
};
// Copies a file through a temporary file beside the destination, renamed
// over it only when the whole copy reached the storage: a failed copy
// leaves the old destination as it was. A CopyResult.
int copyFile(const QString& source, const QString& destination);
// Renames a file, replacing a destination file; across file systems it
// copies and removes the source. The rename's result.
bool moveFile(const QString& source, const QString& destination);
// Removes a folder tree. Symbolic links inside are removed, never
// followed; hidden entries stay, but for the temporary files that
// interrupted copies and rewrites left. False for an empty path or when
// the folder is still there (it held hidden entries); true when no such
// folder exists.
bool removeDir(const QString& path);

// --- Lookups ---
// The first "*.corbin" file of a folder in name order, joined to the
// folder; empty when there is none.
QString findCorbinFile(const QString& dir);
// The greatest (byte-wise) name of the subfolders of `dir` that do not
// start with "." and hold two or more dots; empty when there is none.
// `name` is untouched when the folder cannot be read.
void latestVersionDir(const std::string& dir, std::string& name);
bool hasMultipleDots(const std::string& text);

// --- Processes ---
// Runs a command line through the shell seam: 1 for an empty command,
// else the raw wait status, or -1 when it could not be run.
int runShell(const std::string& command);

} // namespace Utils
