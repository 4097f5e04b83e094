#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// A failed step of a log file, for its owner to report in its own log's words.
struct LogFileFault
{
    enum Step {
        None,
        DropOldest,    // unlink of `file`: the oldest numbered file, or the current one when none is kept
        ShiftNumbered, // rename of the numbered `file` to `target`, one number up
        MoveCurrent,   // rename of the current `file` to number 1, `target`
        Open,          // open of the current `file`
    };
    Step step = None;
    int error = 0;      // errno of the failed call
    std::string file;   // board paths
    std::string target;
};

// A log file "<dir>/<name>.log" (board paths) that rotates by size into
// numbered files beside it, "<dir>/<name>_<i>.log" with 1 the newest, and is
// made anew when something removes it (at the next line) or moves it. A link
// in the file's place is never written through: it is rotated aside like a
// file of an earlier run. A line goes to the file in one write; one that a
// failed write cut short is ended before the next.
// It takes no lock: its owner serialises the calls, and words the faults.
class RotatingFile
{
public:
    // How often the path is looked at for a moved file (and for the file's
    // size on disk): every `checkIntervalMs`, 0 at every line. A removed
    // file is noticed at every line.
    explicit RotatingFile(int checkIntervalMs);
    ~RotatingFile();
    RotatingFile(const RotatingFile&) = delete;
    RotatingFile& operator=(const RotatingFile&) = delete;

    // Closes the file and says where it lies and when it rotates: when it is
    // past `maxSize` bytes, keeping `kept` numbered files (0: none, the
    // current file is dropped).
    void place(const std::string& dir, const std::string& name, int maxSize, int kept);
    bool placed() const { return !m_path.empty(); }
    // The current file's board path.
    const std::string& path() const { return m_path; }
    bool exists() const;

    // Closes the file; moves each numbered file a number up, dropping the
    // oldest, and the current file to number 1. 0, or a negative errno and fault().
    int rotate();
    // Opens the current file emptied, as a new run starts it, unless one is
    // open. 0, or a negative errno and fault().
    int open();
    // The next line opens the file again, to append.
    void close();

    // Appends one line, having first rotated the file when it is past its
    // size, and opened it anew when it was moved or removed. 1 when the line
    // reached the file, 0 when the write failed, a negative errno and
    // fault() when rotation or opening failed (the line is lost).
    int append(const char* line, size_t length);

    const LogFileFault& fault() const { return m_fault; }

private:
    int openFile(int flags);
    int openPath(int flags, bool* created) const;
    bool checkDue();
    long sizeOnDisk() const;
    size_t writeAll(const char* data, size_t length);
    std::string numbered(int index) const;
    int fail(LogFileFault::Step step, const std::string& file, const std::string& target = std::string());

    const int m_checkIntervalMs;
    std::string m_dir;
    std::string m_name;
    std::string m_path;
    std::string m_fsPath; // m_path under the root prefix
    int m_maxSize = 0x100000;
    int m_kept = 0;

    int m_fd = -1;
    dev_t m_device = 0; // identity of the open file
    ino_t m_inode = 0;
    long m_size = 0;          // bytes in the open file
    bool m_midLine = false;   // a failed write left part of a line in the file
    int64_t m_nextCheckMs = 0; // on the coarse monotonic clock
    LogFileFault m_fault;
};
