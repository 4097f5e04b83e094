#pragma once

#include "services/WorkThread.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The worker's tests run real processes: stub scripts for the network
// programs under the scratch root, first on PATH. Each stub records its
// command line in "calls" and behaves as its next mode says (one mode per
// line in "<program>.modes", used up call by call; then the mode in
// "<program>.default", else "ok"):
//   ok    exits 0
//   fail  prints a line on each stream and exits 3
//   hang  sleeps far past any limit, for a time of its own that it records
//         in "hung" (testsupport::processWithArgument finds it)
//   slow  takes a third of a second, then exits 0
//   cat   prints every file among its arguments and exits 1
//   real  runs the busybox program of its name with its arguments
class WorkThreadTest : public ::testing::Test
{
public:
    // A finish limit the stubs keep well within, even on a loaded machine
    // where each run first waits for its sandbox; a hanging stub overruns it.
    static constexpr int kStubFinishLimitMs = 5000;

    static std::string stubDir();
    // A stub under the scratch root, at a board path or in the stub folder.
    static void writeStub(const std::string& fsPath);
    static void setModes(const std::string& program, const std::vector<std::string>& modes);
    static void setDefaultMode(const std::string& program, const std::string& mode);
    // The command lines the stubs were started with, in order.
    static std::vector<std::string> calls();
    // Every log file and debug message written so far, as one text.
    static std::string logged();

    // Opens the process log (it starts a watcher thread).
    static void openLog();

protected:
    void SetUp() override;
    void TearDown() override;
    // Everything of SetUp but the log.
    void prepare();
};

// For tests whose body runs in namespaces of its own: the log is opened in
// the body, since the body's process is forked from this one, and a forked
// copy of a process with threads may start no threads of its own under the
// thread sanitizer.
class WorkThreadInNamespaces : public WorkThreadTest
{
protected:
    void SetUp() override { prepare(); }
};

// Values recorded on one thread and read on another.
template <typename T>
class Recorded
{
public:
    void add(T value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values.push_back(std::move(value));
    }
    std::vector<T> all() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }
    size_t count() const { return all().size(); }

private:
    mutable std::mutex m_mutex;
    std::vector<T> m_values;
};

// What a worker emitted, recorded on the worker's thread.
struct JobSignals
{
    explicit JobSignals(WorkThread& worker);
    // Signals of any kind.
    size_t total() const;

    Recorded<std::pair<NetResult, NetType>> connects;
    Recorded<QStringList> modelLists;
    Recorded<int> logCounts;
    Recorded<int> hardwareResults;
    Recorded<int> scanResults;
    Recorded<std::vector<std::string>> scans; // the network names of each list, in its order
    Recorded<bool> deletedAll;
    Recorded<bool> ntpFinished;
};

// Runs one job on `worker` and waits for its end (generously).
void runJob(WorkThread& worker, int job);
// Runs a job once for each path, in order.
void runJobOnPaths(WorkThread& worker, int job, const QStringList& paths);
