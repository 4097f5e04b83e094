#pragma once

#include "base/Cond.h"
#include "base/Mutex.h"
#include "base/PThread.h"
#include "base/StopSignal.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class Printer;

// Prepares the next layer image on the panel while the plate moves, so that
// rendering or decoding overlaps the mechanical steps of the print. With a
// buffer it shows that buffer instead (the remote link's raw images).
class ImageMaker : public PThread
{
public:
    static constexpr size_t kStackSize = 1024 * 1024;
    static constexpr int kMemoryFailed = 5;

    ImageMaker(Printer* printer, const uint8_t* buffer, int32_t size);
    ~ImageMaker() override;

    int start();
    // Ends the thread and waits until it has ended.
    void stop();
    void requestImage();
    // 1 when the requested image is on the panel; 0 when ms passed first, the
    // wait was interrupted, or the thread ended for lack of memory.
    int waitFinished(int ms);
    // Wakes a waitFinished at once (an abort).
    void interruptWait();
    // 0; kMemoryFailed once the thread ended because memory ran out.
    int status() const { return m_status.load(); }

protected:
    void* threadMain() override;

private:
    bool nextRequest();
    void makeImage();
    void reportDone();

    Printer* const m_printer;
    const uint8_t* const m_buffer;
    const int32_t m_size;

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_status{0};
    bool m_request = false;     // guarded by m_requestLock
    bool m_done = true;         // guarded by m_doneLock (and set under m_requestLock when requested)
    bool m_interrupted = false; // guarded by m_doneLock
    Mutex m_requestLock;
    Cond m_requestCond;
    Mutex m_doneLock;
    Cond m_doneCond;
    StopSignal m_sleep; // the wait after a failed layer
    bool m_started = false;
};
