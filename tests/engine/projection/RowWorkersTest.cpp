// The row workers: every row once, in pieces of the size asked for, on
// threads started once and ended with the pool; only the calling thread when
// no core is free or the work is too small to share.
#include "engine/projection/RowWorkers.h"

#include "engine/projection/FramePixels.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

// The ids of the process's threads. Tests compare sets, not counts: threads
// of others (a sanitizer's, an emulator's) may end meanwhile.
std::set<int> threadsOfThisProcess()
{
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ids.insert(atoi(entry->d_name));
        closedir(dir);
    }
    return ids;
}

// How many of the process's threads were not there in `before`.
size_t threadsBeyond(const std::set<int>& before)
{
    size_t count = 0;
    for (int id : threadsOfThisProcess())
        count += before.count(id) == 0;
    return count;
}

struct Record
{
    std::mutex lock;
    std::vector<int> timesRun;
    std::vector<std::pair<int, int>> pieces;
    std::set<int> slotsSeen;
    std::set<std::thread::id> threads;
    std::atomic<int> busySlots{0}; // bit per slot while it runs a piece
    bool slotOverlap = false;
};

void runAndRecord(RowWorkers& workers, int rows, int minRows, Record& r)
{
    r.timesRun.assign(size_t(rows), 0);
    r.pieces.clear();
    r.slotsSeen.clear();
    r.threads.clear();
    workers.run(rows, minRows, [&](int first, int end, int slot) {
        const int bit = 1 << slot;
        if (r.busySlots.fetch_or(bit) & bit)
            r.slotOverlap = true;
        std::lock_guard<std::mutex> lock(r.lock);
        for (int y = first; y < end; ++y)
            ++r.timesRun[size_t(y)];
        r.pieces.emplace_back(first, end);
        r.slotsSeen.insert(slot);
        r.threads.insert(std::this_thread::get_id());
        r.busySlots.fetch_and(~bit);
    });
}

} // namespace

TEST(RowWorkersTest, EveryRowOnceInPiecesOfTheSizeAskedFor)
{
    RowWorkers workers(3, [] { return 8; });
    ASSERT_EQ(4, workers.maxSlots());
    Record r;
    for (const auto& [rows, minRows] : {std::pair{1080, 16}, {2400, 40}, {97, 5}, {64, 64}, {10, 1}}) {
        for (int repeat = 0; repeat < 20; ++repeat) {
            runAndRecord(workers, rows, minRows, r);
            ASSERT_EQ(std::vector<int>(size_t(rows), 1), r.timesRun) << rows << " rows";
            for (const auto& [first, end] : r.pieces)
                ASSERT_TRUE(end - first >= minRows || end == rows) << first << ".." << end;
            ASSERT_LE(*r.slotsSeen.rbegin(), 3);
            ASSERT_FALSE(r.slotOverlap);
        }
    }
    // Enough work for several threads: the helpers take part.
    runAndRecord(workers, 4000, 1, r);
    EXPECT_GT(r.pieces.size(), 1u);
}

TEST(RowWorkersTest, CallingThreadAloneWhenNoCoreIsFreeOrTheWorkIsSmall)
{
    int freeCores = 0;
    RowWorkers workers(3, [&] { return freeCores; });
    Record r;
    runAndRecord(workers, 2400, 8, r);
    EXPECT_EQ((std::set<int>{0}), r.slotsSeen);
    EXPECT_EQ((std::set<std::thread::id>{std::this_thread::get_id()}), r.threads);
    EXPECT_EQ(1u, r.pieces.size());

    freeCores = 3;
    runAndRecord(workers, 100, 64, r); // fewer rows than two pieces
    EXPECT_EQ((std::set<std::thread::id>{std::this_thread::get_id()}), r.threads);
    runAndRecord(workers, 0, 1, r);
    EXPECT_TRUE(r.pieces.empty());
}

TEST(RowWorkersTest, HelpersStartOnceAndEndWithThePool)
{
    {
        // A sanitizer's runtime starts a thread of its own with the first
        // thread of the process: that one is there before the count.
        RowWorkers first(1, [] { return 1; });
        Record r;
        runAndRecord(first, 100, 1, r);
    }
    const std::set<int> before = threadsOfThisProcess();
    {
        // No core free at the first work worth helpers, all three later:
        // the helpers for them are there from the first run on.
        std::atomic<int> free{0};
        RowWorkers workers(3, [&] { return free.load(); });
        EXPECT_EQ(0u, threadsBeyond(before)); // none until work needs them
        Record r;
        runAndRecord(workers, 3000, 1, r);
        const std::set<int> started = threadsOfThisProcess();
        EXPECT_GT(threadsBeyond(before), 0u);
        EXPECT_LE(threadsBeyond(before), 3u);
        free = 3;
        for (int layer = 0; layer < 100; ++layer)
            runAndRecord(workers, 3000, 1, r);
        EXPECT_EQ(0u, threadsBeyond(started));
    }
    // A joined thread may still be listed for a moment after the join.
    EXPECT_TRUE(testsupport::eventually([&] { return threadsBeyond(before) == 0; }))
        << threadsBeyond(before) << " helpers outlived the pool";
}

// Pinned to one core, the system has no core to offer besides the caller's.
TEST(RowWorkersTest, OneAllowedCoreIsNoFreeCore)
{
    cpu_set_t saved;
    ASSERT_EQ(0, pthread_getaffinity_np(pthread_self(), sizeof saved, &saved));
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(0, pthread_setaffinity_np(pthread_self(), sizeof one, &one));
    const int pinned = RowWorkers::freeCoresNow();
    RowWorkers workers; // sized by the cores it may use
    ASSERT_EQ(0, pthread_setaffinity_np(pthread_self(), sizeof saved, &saved));
    EXPECT_EQ(0, pinned);
    EXPECT_EQ(1, workers.maxSlots());
    EXPECT_LT(RowWorkers::freeCoresNow(), CPU_COUNT(&saved));
}

// Rows written into the frame by the helpers too: each thread's rows pass
// through its own scratch row and land where they belong.
TEST(RowWorkersTest, FrameRowsOnHelpersEachThroughTheirOwnScratch)
{
    const int width = 97, height = 400;
    RowWorkers workers(3, [] { return 3; });
    std::vector<uint8_t> scratch(size_t(width) * size_t(workers.maxSlots()));
    std::vector<uint8_t> frame(size_t(width) * 3 * height, 0);
    const FrameTarget target{frame.data(), size_t(width) * 3, width, height};
    for (int round = 0; round < 20; ++round) {
        const auto row = [&](int y, uint8_t* rowScratch) {
            for (int x = 0; x < width; ++x)
                rowScratch[x] = uint8_t(x + y + round);
            return const_cast<const uint8_t*>(rowScratch);
        };
        writeGrayRows(width, height, target, kAllChannels, RowSplit{workers, 8, scratch.data()}, std::ref(row));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(uint8_t(x + y + round), frame[size_t(y) * width * 3 + size_t(x) * 3 + 1]) << x << "," << y;
    }
}

TEST(RowWorkersTest, FreeCoresCountEveryThreadThatWantsOne)
{
    // The load of the last minute counts even when few threads are ready
    // at the moment: helpers woken on a busy machine make the frame wait.
    EXPECT_EQ(0, freeCoresOf(8, 8, "36.20 30.10 28.00 3/500 4711\n"));
    EXPECT_EQ(0, freeCoresOf(8, 8, "0.30 0.20 0.10 12/500 4711\n"));
    EXPECT_EQ(6, freeCoresOf(8, 8, "0.30 0.20 0.10 2/500 4711\n"));
    EXPECT_EQ(5, freeCoresOf(8, 8, "2.50 0.20 0.10 1/500 4711\n"));
    EXPECT_EQ(3, freeCoresOf(4, 8, "1.00 1.00 1.00 1/500 4711\n")); // the cores it may use
    EXPECT_EQ(0, freeCoresOf(1, 8, "0.00 0.00 0.00 1/500 4711\n"));
    EXPECT_EQ(0, freeCoresOf(8, 8, ""));
    EXPECT_EQ(0, freeCoresOf(8, 8, "nan 0 0 1/2 3"));
}
