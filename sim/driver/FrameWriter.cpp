#include "driver/FrameWriter.h"

#include <QString>

#include <cstdio>

FrameWriter::FrameWriter(size_t maxWaiting, Save save)
    : m_maxWaiting(maxWaiting),
      m_save(std::move(save)),
      m_thread([this] {
          run();
          return nullptr;
      })
{
    // Without its thread the writer takes no frame.
    if (m_thread.start(false, PThread::defaultStackSize()) != 0)
        m_done = true;
}

FrameWriter::~FrameWriter()
{
    finish();
}

bool FrameWriter::add(const std::string& path, const std::function<QImage()>& capture)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_done || m_queue.size() + m_reserved >= m_maxWaiting) {
            ++m_counts.dropped;
            return false;
        }
        ++m_reserved;
    }
    // Captured outside the lock: the writer goes on meanwhile.
    QImage frame = capture();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        --m_reserved;
        m_queue.emplace_back(path, std::move(frame));
    }
    m_queued.notify_one();
    return true;
}

void FrameWriter::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_done = true;
    }
    m_queued.notify_all();
    m_thread.join();
}

void FrameWriter::run()
{
    for (;;) {
        std::pair<std::string, QImage> item;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            // A frame being captured at the finish is still written.
            m_queued.wait(lock, [this] { return !m_queue.empty() || (m_done && m_reserved == 0); });
            if (m_queue.empty())
                return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        const bool saved = m_save(item.second, item.first);
        if (!saved)
            fprintf(stderr, "talviks-sim: cannot write %s\n", item.first.c_str());
        std::lock_guard<std::mutex> lock(m_lock);
        ++(saved ? m_counts.written : m_counts.failed);
    }
}

FrameWriter::Counts FrameWriter::counts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_counts;
}

bool FrameWriter::savePng(const QImage& frame, const std::string& path)
{
    return !frame.isNull() && frame.save(QString::fromStdString(path), "PNG");
}
