#include "engine/print/ImageMaker.h"

#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/threads/Assert.h"
#include "base/threads/Stopwatch.h"
#include "engine/print/EngineThread.h"
#include "engine/print/PrintMachine.h"

#include <cerrno>
#include <exception>
#include <new>

namespace {

// The waits for the image thread bound a computation, which takes real time
// even where the machine clock runs faster than it (the simulated board).
timespec computeDeadlineAfterMs(int ms)
{
    return nsToTimespec(timespecToNs(kernelMonotonicNow()) + int64_t{ms} * 1000000);
}

} // namespace

ImageMaker::ImageMaker(Printer* printer, const uint8_t* buffer, int32_t size)
    : ImageMaker(machineOf(printer), buffer, size)
{
}

ImageMaker::ImageMaker(PrintMachine* machine, const uint8_t* buffer, int32_t size)
    : m_printer(machine), m_buffer(buffer), m_size(size), m_requestCond(m_requestLock), m_doneCond(m_doneLock)
{
    TALVIKS_ASSERT(m_printer);
}

ImageMaker::~ImageMaker()
{
    stop();
}

int ImageMaker::start()
{
    m_stop = false;
    {
        MutexLocker done(m_doneLock);
        m_ended = false;
        m_interrupted = false;
    }
    m_cancelRender.clear();
    // Joinable, so that stop() can wait for the end before the object goes.
    const int rc = PThread::start(false, kStackSize);
    m_started = rc == 0;
    return rc == 0 ? 0 : rc;
}

void ImageMaker::stop()
{
    stopWithin(-1);
}

bool ImageMaker::stopWithin(int ms)
{
    m_stop = true;
    {
        MutexLocker lock(m_requestLock);
        m_requestCond.broadcast();
    }
    interruptWait();
    if (!m_started)
        return true;
    if (ms >= 0) {
        // A render cannot be interrupted: wait for it only so long.
        const timespec deadline = computeDeadlineAfterMs(ms);
        MutexLocker lock(m_doneLock);
        while (!m_ended) {
            if (m_doneCond.waitUntil(deadline) == ETIMEDOUT && !m_ended)
                return false;
        }
    }
    join();
    m_started = false;
    return true;
}

void ImageMaker::requestImage()
{
    {
        MutexLocker lock(m_requestLock);
        {
            MutexLocker done(m_doneLock);
            m_done = false;
            m_failed = false;
        }
        m_request = true;
    }
    m_requestCond.signal();
}

int ImageMaker::waitFinished(int ms)
{
    const timespec deadline = computeDeadlineAfterMs(ms);
    MutexLocker lock(m_doneLock);
    while (!m_done) {
        if (m_interrupted || m_failed || m_status.load() == kMemoryFailed)
            return 0;
        if (m_doneCond.waitUntil(deadline) == ETIMEDOUT)
            return m_done ? 1 : 0;
    }
    return 1;
}

bool ImageMaker::imageFailed()
{
    MutexLocker lock(m_doneLock);
    return m_failed;
}

ImageMaker::Params ImageMaker::takeLayerParams(int layer, int ms, PrintWorkPara& para)
{
    const timespec deadline = computeDeadlineAfterMs(ms);
    MutexLocker lock(m_doneLock);
    while (m_readLayer < layer) {
        if (m_interrupted || m_ended)
            return Params::Missing;
        if (m_doneCond.waitUntil(deadline) == ETIMEDOUT && m_readLayer < layer)
            return Params::Missing;
    }
    if (m_readLayer != layer)
        return Params::Missing;
    if (m_readKind == Params::Replaced)
        para = m_readParams;
    return m_readKind;
}

void ImageMaker::handOver(Params kind, const PrintWorkPara* para)
{
    MutexLocker lock(m_doneLock);
    m_readLayer = m_nextLayer++;
    m_readKind = kind;
    if (para)
        m_readParams = *para;
    m_doneCond.broadcast();
}

void ImageMaker::interruptWait()
{
    m_cancelRender.raise();
    MutexLocker lock(m_doneLock);
    m_interrupted = true;
    m_doneCond.broadcast();
}

void* ImageMaker::threadMain()
{
    markEngineThread();
    while (nextRequest()) {
        const bool made = makeImage();
        if (m_status.load() == kMemoryFailed)
            break;
        if (made) // a failed image was reported, and is never done
            reportDone();
    }
    reportEnd();
    return nullptr;
}

bool ImageMaker::nextRequest()
{
    MutexLocker lock(m_requestLock);
    while (!m_request && !m_stop)
        m_requestCond.wait();
    if (m_stop)
        return false;
    m_request = false;
    return true;
}

bool ImageMaker::makeImage()
{
    Stopwatch watch;
    LogWriter* log = logger();
    if (m_buffer) {
        m_printer->transDataImage(m_buffer, m_size < 0 ? 0 : static_cast<size_t>(m_size));
        log->write(LogInfo, "transDataImage End (%i ms)", static_cast<int>(watch.elapsedMs()));
        return true;
    }
    int rc;
    try {
        rc = readAndShow();
    } catch (const std::bad_alloc&) {
        // A large layer can ask for more than the machine has.
        log->write(LogError, "Layer image: out of memory");
        rc = -5;
    } catch (const std::exception& e) {
        log->write(LogError, "Layer image: %s", e.what());
        rc = -1;
    }
    if (rc == -5) {
        m_status = kMemoryFailed;
        interruptWait(); // the print loop learns of it now, not after its image wait
        return false;
    }
    if (rc != 0) {
        log->write(LogError, "setNextLayerData failed[%i]", rc);
        MutexLocker lock(m_doneLock);
        m_failed = true; // the print loop ends the print now, not after its image wait
        m_doneCond.broadcast();
    }
    log->write(LogInfo, "ImageMaker End (%i ms)", static_cast<int>(watch.elapsedMs()));
    return rc == 0;
}

int ImageMaker::readAndShow()
{
    NextLayer next;
    const int rc = m_printer->readNextLayer(next);
    next.cancelFd = m_cancelRender.fd();
    if (rc == 0 && next.source == NextLayer::Source::Qds && !next.params) {
        handOver(Params::Unreadable, nullptr);
        return -1; // the print thread ends the print on the hand-over
    }
    handOver(next.params ? Params::Replaced : Params::Unchanged, next.params ? &*next.params : nullptr);
    return rc == 0 ? m_printer->showLayer(next) : rc;
}

void ImageMaker::reportEnd()
{
    MutexLocker lock(m_doneLock);
    m_ended = true;
    m_doneCond.broadcast();
}

void ImageMaker::reportDone()
{
    MutexLocker lock(m_doneLock);
    m_done = true;
    m_doneCond.broadcast();
}
