// nvsdk::Utils: threads, started as the foundation's PThreads.
#include "nvsdk/Utils.h"

#include "base/threads/FunctionThread.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace nvsdk {

namespace {

// The threads createThread started, as long as they may still run. A thread
// id may be reused once its thread is gone, so asking the kernel about an
// old id could answer for a stranger: these objects answer instead. The
// caller joins the thread by its id; ended ones are dropped at the next start.
std::mutex g_threadsLock;
std::vector<std::unique_ptr<FunctionThread>> g_threads;

} // namespace

int Utils::createThread(pthread_t* id, void* (*routine)(void*), void* arg, size_t stackSize)
{
    std::lock_guard<std::mutex> lock(g_threadsLock);
    g_threads.erase(std::remove_if(g_threads.begin(), g_threads.end(),
                                   [](const std::unique_ptr<FunctionThread>& thread) { return !thread->isAlive(); }),
                    g_threads.end());
    auto thread = std::make_unique<FunctionThread>([routine, arg] { return routine(arg); });
    int rc = thread->start(false, stackSize);
    if (rc == -ESRCH) {
        fprintf(stderr, "src/Utils[%d]: pthread_attr_setstacksize error %d\n", __LINE__, errno);
        rc = thread->start(false, PThread::defaultStackSize());
    }
    if (rc != 0)
        return errno;
    *id = thread->threadId();
    g_threads.push_back(std::move(thread));
    return 0;
}

bool Utils::isThreadAlive(pthread_t id)
{
    if (id == 0)
        return false;
    std::lock_guard<std::mutex> lock(g_threadsLock);
    return std::any_of(g_threads.begin(), g_threads.end(), [&](const std::unique_ptr<FunctionThread>& thread) {
        return thread->isAlive() && pthread_equal(thread->threadId(), id);
    });
}

} // namespace nvsdk
