#pragma once

#include "nvupserver/Md5.h"

#include "base/threads/FunctionThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace nvupserver {

// Digests the bytes of a transfer on a thread of its own, so that hashing a
// large package overlaps its arrival instead of following it. Without that
// thread (it could not be started) the bytes are digested as they come.
class Md5Pipeline
{
public:
    Md5Pipeline();
    ~Md5Pipeline();
    Md5Pipeline(const Md5Pipeline&) = delete;
    Md5Pipeline& operator=(const Md5Pipeline&) = delete;

    // Copies the block; waits while too much is still queued.
    void add(const char* data, size_t size);
    // Waits until every added byte is digested; then digest() may be used directly.
    Md5Digest& digest();

private:
    void run();
    void queuePending(std::unique_lock<std::mutex>& lock);

    Md5Digest m_digest;
    std::vector<char> m_pending;
    std::deque<std::vector<char>> m_queue;
    bool m_busy = false;
    bool m_closing = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    FunctionThread m_worker;
    bool m_threaded = false;
};

} // namespace nvupserver
