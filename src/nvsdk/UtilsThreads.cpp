// nvsdk::Utils: threads.
#include "nvsdk/Utils.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace nvsdk {

namespace {

// The threads createThread started that have not ended. A thread id may be
// reused once its thread is gone, so asking the kernel about an old id could
// answer for a stranger: this record answers instead.
std::mutex g_threadsLock;
std::vector<pthread_t> g_running;

struct Start
{
    void* (*routine)(void*);
    void* arg;
};

// Leaves the record however the thread ends: return, pthread_exit or cancellation.
struct RunningEntry
{
    ~RunningEntry()
    {
        std::lock_guard<std::mutex> lock(g_threadsLock);
        const pthread_t self = pthread_self();
        g_running.erase(std::remove_if(g_running.begin(), g_running.end(),
                                       [&](pthread_t id) { return pthread_equal(id, self); }),
                        g_running.end());
    }
};

void* runRecorded(void* start)
{
    const Start what = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    RunningEntry entry;
    return what.routine(what.arg);
}

} // namespace

int Utils::createThread(pthread_t* id, void* (*routine)(void*), void* arg, size_t stackSize)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    const int stackResult = pthread_attr_setstacksize(&attr, stackSize);
    if (stackResult != 0)
        fprintf(stderr, "src/Utils[%d]: pthread_attr_setstacksize error %d\n", __LINE__, stackResult);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);

    Start* start = new Start{routine, arg};
    pthread_t thread;
    // Held until the id is recorded: the thread cannot leave the record
    // before it is in it.
    std::lock_guard<std::mutex> lock(g_threadsLock);
    const int result = pthread_create(&thread, &attr, runRecorded, start);
    pthread_attr_destroy(&attr);
    if (result != 0) {
        delete start;
        return result;
    }
    g_running.push_back(thread);
    *id = thread;
    return 0;
}

bool Utils::isThreadAlive(pthread_t id)
{
    if (id == 0)
        return false;
    std::lock_guard<std::mutex> lock(g_threadsLock);
    return std::any_of(g_running.begin(), g_running.end(), [&](pthread_t running) { return pthread_equal(running, id); });
}

} // namespace nvsdk
