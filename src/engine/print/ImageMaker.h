#pragma once

#include "base/threads/Cond.h"
#include "base/threads/Mutex.h"
#include "base/threads/PThread.h"
#include "base/threads/StopSignal.h"
#include "engine/slicefile/ModelInfo.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class Printer;
class PrintMachine;

// Prepares the next layer image on the panel while the plate moves, so that
// rendering or decoding overlaps the mechanical steps of the print. With a
// buffer it shows that buffer instead (the remote link's raw images).
class ImageMaker : public PThread
{
public:
    static constexpr size_t kStackSize = 1024 * 1024;
    static constexpr int kMemoryFailed = 5;

    // The printer is reached only through its PrintMachine side.
    ImageMaker(Printer* printer, const uint8_t* buffer, int32_t size);
    ImageMaker(PrintMachine* machine, const uint8_t* buffer, int32_t size);
    ~ImageMaker() override;

    int start();
    // Ends the thread and waits until it has ended.
    void stop();
    void requestImage();
    // 1 when the requested image is on the panel; 0 when ms passed first, the
    // wait was interrupted, the image could not be made (imageFailed), or
    // the thread ended for lack of memory. The wait is in real time: it
    // bounds a computation, also where the machine clock runs faster.
    int waitFinished(int ms);
    // The requested image could not be made.
    bool imageFailed();
    // Wakes a waitFinished or takeLayerParams at once and for good, and ends
    // a render in progress (an abort).
    void interruptWait();
    // Stops the thread like stop(), waiting at most ms for it to leave what it
    // is doing (a render is ended): false when it is still busy (it ends by
    // itself afterwards; the object must live until isAlive() turns false).
    bool stopWithin(int ms);

    // What the print thread learns of a layer's parameters.
    enum class Params { Unchanged, Replaced, Unreadable, Missing };
    // Waits until the thread has read layer `layer` (counted from 0 in the
    // order of the requests), at most ms. Replaced: `para` now holds the
    // layer's parameters (qds). Unchanged: the layer has none of its own.
    // Unreadable: its parameters could not be read. Missing: not read in
    // time, interrupted, or the thread ended.
    Params takeLayerParams(int layer, int ms, PrintWorkPara& para);
    // 0; kMemoryFailed once the thread ended because memory ran out.
    int status() const { return m_status.load(); }

protected:
    void* threadMain() override;

private:
    bool nextRequest();
    // False when the layer could not be made (reported to the waiters).
    bool makeImage();
    int readAndShow();
    void handOver(Params kind, const PrintWorkPara* para);
    void reportDone();
    void reportEnd();

    PrintMachine* const m_printer;
    const uint8_t* const m_buffer;
    const int32_t m_size;

    std::atomic<bool> m_stop{false};
    std::atomic<int> m_status{0};
    bool m_request = false;     // guarded by m_requestLock
    bool m_done = true;         // guarded by m_doneLock (and set under m_requestLock when requested)
    bool m_interrupted = false; // guarded by m_doneLock
    bool m_ended = false;       // guarded by m_doneLock
    bool m_failed = false;      // the requested image could not be made; guarded by m_doneLock
    // The last layer read and its parameters, guarded by m_doneLock.
    int m_readLayer = -1;
    Params m_readKind = Params::Missing;
    PrintWorkPara m_readParams;
    int m_nextLayer = 0; // the image thread's own count
    Mutex m_requestLock;
    Cond m_requestCond;
    Mutex m_doneLock;
    Cond m_doneCond;
    // Raised when images are no longer wanted: ends the render of one.
    StopSignal m_cancelRender;
    bool m_started = false;
};
