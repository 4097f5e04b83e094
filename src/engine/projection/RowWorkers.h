#pragma once

#include "base/threads/FunctionThread.h"
#include "base/threads/noncopyable.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>


// The cores besides the caller's that are free, from the cores it may use,
// the cores of the machine and the text of /proc/loadavg: a core is taken
// by every other thread ready to run, and by as many as have wanted one
// over the last minute (a busy machine has moments with few threads ready).
int freeCoresOf(int allowedCores, int onlineCores, const char* loadavg);

// Splits the rows of a frame between the calling thread and helper threads
// that are started once, on first need, and then wait for the next frame:
// a layer wakes them instead of starting threads. The rows go out in small
// pieces that each thread takes as it gets to them, so a helper that is slow
// to run holds up at most one piece; and helpers are only woken for cores
// that are free at that moment and for work large enough to be worth them.
// On a busy machine, or one core, the calling thread does all the work.
class RowWorkers : noncopyable
{
public:
    // Free cores now; the default is freeCoresNow().
    using FreeCores = std::function<int()>;

    // At most `maxHelpers` helpers (negative: one less than the cores).
    explicit RowWorkers(int maxHelpers = -1, FreeCores freeCores = FreeCores());
    // Stops the helpers and waits until they have ended.
    ~RowWorkers();

    // Runs piece(first, end, slot) over [0, rows) and returns when every
    // piece is done. A piece is at least `minRows` rows, fewer only at the
    // end. `slot` tells the threads apart: 0 is the calling thread, 1 to
    // maxSlots() - 1 the helpers; a slot runs one piece at a time, so
    // per-slot scratch needs no lock. One run at a time.
    void run(int rows, int minRows, const std::function<void(int first, int end, int slot)>& piece);
    // The slots a run may use.
    int maxSlots() const { return m_maxHelpers + 1; }

    // freeCoresOf() for this thread on this machine now.
    static int freeCoresNow();

private:
    struct Job
    {
        const std::function<void(int, int, int)>* piece = nullptr;
        int rows = 0;
        int pieceRows = 1;
        int pieces = 0;
        std::atomic<int> next{0};
    };

    void startHelpers(int count);
    void work(int slot);
    // A helper's loop until the pool stops.
    void serve(int slot);

    const int m_maxHelpers;
    const FreeCores m_freeCores;
    std::mutex m_runLock; // one run at a time
    std::vector<std::unique_ptr<FunctionThread>> m_helpers;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    Job m_job;
    uint64_t m_generation = 0; // counts runs that asked for helpers
    int m_wanted = 0;          // helpers that may still join the current run
    int m_inside = 0;          // helpers working on it
    bool m_stop = false;
};
