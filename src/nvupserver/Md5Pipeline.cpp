#include "nvupserver/Md5Pipeline.h"

namespace nvupserver {

namespace {

const size_t kChunk = 1 << 20;
const size_t kMaxQueued = 8;

} // namespace

Md5Pipeline::Md5Pipeline()
    : m_worker([this] {
          run();
          return nullptr;
      })
{
    m_threaded = m_worker.start(false, PThread::defaultStackSize()) == 0;
}

Md5Pipeline::~Md5Pipeline()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

void Md5Pipeline::add(const char* data, size_t size)
{
    if (!m_threaded) {
        m_digest.update(data, size);
        return;
    }
    m_pending.insert(m_pending.end(), data, data + size);
    if (m_pending.size() < kChunk)
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.size() < kMaxQueued; });
    queuePending(lock);
}

Md5Digest& Md5Pipeline::digest()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    queuePending(lock);
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    return m_digest;
}

void Md5Pipeline::queuePending(std::unique_lock<std::mutex>&)
{
    if (m_pending.empty())
        return;
    m_queue.emplace_back();
    m_queue.back().swap(m_pending);
    m_pending.reserve(kChunk);
    m_changed.notify_all();
}

void Md5Pipeline::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_closing || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        std::vector<char> block;
        block.swap(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        m_digest.update(block.data(), block.size());
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}

} // namespace nvupserver
