#include "driver/FrameWriter.h"

#include "driver/OutFiles.h"

#include <QBuffer>
#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
        const int error = m_save(item.second, item.first);
        std::lock_guard<std::mutex> lock(m_lock);
        if (error == 0) {
            ++m_counts.written;
            continue;
        }
        // Said once as it happens; the summary counts the rest.
        if (m_counts.failed++ == 0) {
            m_counts.firstError = error;
            fprintf(stderr, "talviks-sim: cannot write %s: %s\n", item.first.c_str(), strerror(error));
        }
    }
}

FrameWriter::Counts FrameWriter::counts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_counts;
}

int FrameWriter::savePng(const QImage& frame, const std::string& path)
{
    // Encoded in memory first: the image library reports success also when
    // the file it writes could not take the bytes.
    QByteArray png;
    QBuffer buffer(&png);
    if (frame.isNull() || !buffer.open(QIODevice::WriteOnly) || !frame.save(&buffer, "PNG"))
        return EINVAL;
    return writeWholeFile(path, png.constData(), static_cast<size_t>(png.size()));
}
