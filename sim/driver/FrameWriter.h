#pragma once

#include "base/threads/FunctionThread.h"

#include <QImage>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

// Writes frames as PNG files on a thread of its own, each whole or not at
// all. At most `maxWaiting` frames wait for it: a frame that comes while
// that many wait is dropped and counted, so a writer that cannot keep up
// with the print costs neither memory nor the print's time. One thread adds
// the frames.
class FrameWriter
{
public:
    static constexpr size_t kMaxWaiting = 2;
    // Writes `frame` to `path`: 0, or the errno value of the failure.
    using Save = std::function<int(const QImage& frame, const std::string& path)>;

    explicit FrameWriter(size_t maxWaiting = kMaxWaiting, Save save = savePng);
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Queues the frame that `capture` makes, when there is room for it (it
    // is not called otherwise); false when the frame was dropped.
    bool add(const std::string& path, const std::function<QImage()>& capture);
    // Writes what waits, then ends the thread; later frames are dropped.
    void finish();

    struct Counts
    {
        size_t written = 0, dropped = 0, failed = 0;
        int firstError = 0; // the errno value of the first frame not written
    };
    Counts counts() const;

    // The frame as a PNG file, written whole (OutFiles.h): 0 or an errno value.
    static int savePng(const QImage& frame, const std::string& path);

private:
    void run();

    const size_t m_maxWaiting;
    const Save m_save;

    mutable std::mutex m_lock;
    std::condition_variable m_queued;
    std::deque<std::pair<std::string, QImage>> m_queue;
    size_t m_reserved = 0; // places taken by frames being captured
    bool m_done = false;
    Counts m_counts;
    FunctionThread m_thread;
};
