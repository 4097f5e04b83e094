#include "engine/print/PrintThread.h"

#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "base/threads/Stopwatch.h"
#include "engine/print/EngineThread.h"
#include "engine/print/ImageMaker.h"
#include "engine/print/PrintLimits.h"
#include "engine/print/PrintMachine.h"
#include "engine/print/RealTimeSection.h"
#include "engine/records/PrintRecords.h"
#include "engine/slicefile/PrintTimeEstimate.h"

#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

// Waits configured in milliseconds come from files and the configuration as
// unsigned numbers; anything past what a sleep takes is held at its limit.
int waitMs(uint32_t ms)
{
    return static_cast<int>(std::min<uint32_t>(ms, INT_MAX));
}

} // namespace

PrintThread::PrintThread(Printer* printer) : PrintThread(machineOf(printer)) {}

PrintThread::PrintThread(PrintMachine* machine) : m_printer(machine) {}

PrintThread::~PrintThread()
{
    cancel();
    joinEndedThread();
    // An image thread draws into the projection, which goes after this: each
    // must have ended. Asked to stop, a render ends at once.
    for (auto& imageMaker : m_abandoned)
        imageMaker->stop();
}

void PrintThread::joinEndedThread()
{
    std::lock_guard<std::mutex> lock(m_joinLock);
    join();
}

void PrintThread::reapImageThreads()
{
    auto ended = [](const std::unique_ptr<ImageMaker>& imageMaker) { return !imageMaker->isAlive(); };
    m_abandoned.erase(std::remove_if(m_abandoned.begin(), m_abandoned.end(), ended), m_abandoned.end());
}

int PrintThread::init(const PrintWorkPara& para)
{
    // Held until the new thread runs: a reader of the last result joins
    // only the thread that made it.
    std::lock_guard<std::mutex> joining(m_joinLock);
    {
        std::lock_guard<std::mutex> lock(m_resultLock);
        if (m_running) {
            logger()->write(LogWarn, "PrintThread: a print is running already");
            return -1;
        }
    }
    // The last print has its result; its thread may still be on its way out.
    join();
    reapImageThreads();
    std::lock_guard<std::mutex> lock(m_resultLock);
    if (m_running) {
        logger()->write(LogWarn, "PrintThread: a print is running already");
        return -1;
    }
    if (!m_abandoned.empty()) {
        logger()->write(LogError, "PrintThread: the last print's image thread is still rendering; print refused");
        return -1;
    }
    // Copied before the status changes: a copy that fails leaves the printer Ready.
    PrintWorkPara copy = para;
    m_printer->setPrintStatus(PrintStatus::Printing);
    m_para = std::move(copy);
    m_mismatchLogged = false;
    matchDropToLift();
    logger()->write(LogInfo, "new Print Thread: layerHeight(%.2f), layerCount(%d)",
                    static_cast<double>(m_para.model.layerHeight), static_cast<int>(m_para.model.layerCount));
    m_pauseRequest = false;
    m_stop.clear();
    // Running from here on, so that an abort that comes before the thread
    // has taken its first step still ends the print. The last print's
    // result stays readable until this one has its own.
    m_running = true;
    if (start(false, kStackSize) != 0) {
        m_running = false;
        m_printer->setPrintStatus(PrintStatus::Ready);
        logger()->write(LogError, "PrintThread: the print thread could not be started");
        return -1;
    }
    return 0;
}

void PrintThread::matchDropToLift()
{
    PrintingPara& p = m_para.printing;
    const float lift = p.LiftI.X + p.LiftII.X;
    const float drop = p.DropI.X + p.DropII.X;
    if (std::fabs(lift - drop) <= kDistanceToleranceMm)
        return;
    if (!m_mismatchLogged) {
        logger()->write(LogWarn, "Lift Dist And Drop Dist Inconformity");
        m_mismatchLogged = true;
    }
    p.DropII.X = p.LiftI.X;
    p.DropI.X = p.LiftII.X;
}

int PrintThread::pause()
{
    m_pauseRequest = true;
    return 0;
}

int PrintThread::resume()
{
    m_pauseRequest = false;
    std::lock_guard<std::mutex> lock(m_resultLock);
    return m_resumeSem ? m_resumeSem->post() : -1;
}

int PrintThread::cancel()
{
    std::lock_guard<std::mutex> lock(m_resultLock);
    if (!m_running)
        return 0; // nothing runs: an ended print keeps its state and result
    m_state = Cancelled;
    logger()->write(LogInfo, "PrintThread Cancel");
    {
        std::lock_guard<std::mutex> motion(m_cancelLock);
        m_stop.raise();
    }
    // Wake every wait the print thread may be in.
    m_printer->stopMotor();
    if (m_resumeSem)
        m_resumeSem->post();
    if (m_imageMaker)
        m_imageMaker->interruptWait();
    return 0;
}

int PrintThread::currentLayer() const
{
    const int layer = m_layer.load();
    return layer < 0 ? 0 : layer;
}

const char* PrintThread::exitValue()
{
    {
        // Waits for the thread of the print that ended last to leave, but not
        // for a print that runs (one another caller started meanwhile): its
        // result is not the one asked for.
        std::lock_guard<std::mutex> joining(m_joinLock);
        bool ended = false;
        {
            std::lock_guard<std::mutex> lock(m_resultLock);
            ended = !m_running;
        }
        if (ended)
            join();
    }
    std::lock_guard<std::mutex> lock(m_resultLock);
    if (m_exit)
        logger()->write(LogInfo, "%s ,results(%s)", "printExitValue", m_exit);
    else
        logger()->write(LogInfo, "%s ,results(%d)", "printExitValue", -1);
    logger()->write(LogInfo, "PrintThread Is Live(%s)", isAlive() ? "true" : "false");
    return m_exit;
}

void PrintThread::updateModeLayerInfo(uint64_t layer, uint32_t, uint32_t)
{
    // No reader attaches per-layer tables, so there is nothing to store.
    if (layer >= m_para.model.layerCount)
        logger()->write(LogError, "updateModeLayerInfo layer > layerCount");
}

// ---- The thread -----------------------------------------------------------------

void* PrintThread::threadMain()
{
    markEngineThread();
    logger()->write(LogInfo, "PrintThread ID: [%lu]", static_cast<unsigned long>(pthread_self()));
    printStart();
    Outcome outcome = run();
    {
        std::lock_guard<std::mutex> lock(m_resultLock);
        // From here on an abort changes nothing: the print has its result.
        m_running = false;
        if (m_stop.raised() && outcome.code != PrinterError::PrintDone)
            outcome = aborted();
        m_exit = outcome.code;
    }
    cleanupHandle();
    return nullptr;
}

PrintThread::Outcome PrintThread::run()
{
    logger()->write(LogInfo, "%s", "resetMotor");
    setState(resetMotor);
    unsigned int generation = 0;
    if (!armMotor(&generation))
        return aborted();
    if (m_printer->startHomingSince(generation, false) != 0)
        return stopped() ? aborted() : endWith(PrinterError::Motor);
    m_printer->setPrintStatus(PrintStatus::Printing);
    m_printer->disableMotorLocator(true);
    m_layer = 0;

    while (static_cast<uint32_t>(m_layer.load()) < m_para.model.layerCount) {
        const int layer = m_layer.load();
        Outcome outcome = makeLayer(layer);
        if (outcome.end)
            return outcome;
        m_layer = layer + 1;
        if (m_pauseRequest) {
            outcome = pauseHere();
            if (outcome.end)
                return outcome;
        }
    }
    PThread::msleep(5);
    return endWith(PrinterError::PrintDone);
}

PrintThread::Outcome PrintThread::makeLayer(int layer)
{
    Stopwatch layerWatch;
    logger()->write(LogInfo, "%s", "updateWorkPara");
    Outcome outcome = takeLayerParams(layer);
    if (outcome.end)
        return outcome;
    const ModelInfo& model = m_para.model;
    const PrintingPara& p = m_para.printing;
    const bool base = isBaseLayer(layer);

    if (layer == 0) {
        const MotorPara first{0.1f, 0.1f, 0.5f, 0};
        logger()->write(LogInfo, "%s: %.02f mm/s", "motorSpeed", 0.5);
        outcome = moveWait(model.layerHeight, first, first, false);
        if (outcome.end)
            return outcome;
        logger()->write(LogInfo, "%s: first", "movetoFirstLayerPostion");
    } else {
        logger()->write(LogDebug, "%s", "dropMotor");
        setState(dropMotor);
        MotorPara second = p.DropII;
        if (base)
            second.V = static_cast<float>(p.Drop_V);
        logSpeeds(p.DropI, second);
        outcome = moveWait(-(p.DropI.X + p.DropII.X - model.layerHeight), p.DropI, second, true);
        if (outcome.end)
            return outcome;
    }

    const int settle = settleTime(layer);
    logger()->write(LogInfo, "%s [%d]", "waitSettle", settle);
    setState(waitSettle, settle);
    if (!m_stop.sleepMs(settle))
        return aborted();

    outcome = waitImage();
    if (outcome.end)
        return outcome;

    outcome = exposeLayer(layer);
    if (outcome.end)
        return outcome;

    // The next image is prepared while the plate releases, lifts and drops;
    // after the last layer there is none.
    if (uint32_t(layer) + 1 < model.layerCount && m_imageMaker->waitFinished(kImageWaitMs))
        m_imageMaker->requestImage();

    logger()->write(LogInfo, "%s [%d]", "waitRelease", static_cast<int>(p.ReleaseTime));
    setState(waitRelease, waitMs(p.ReleaseTime));
    if (!m_stop.sleepMs(waitMs(p.ReleaseTime)))
        return aborted();

    logger()->write(LogDebug, "%s", "liftMotor");
    setState(liftMotor);
    MotorPara first = p.LiftI;
    if (base)
        first.V = static_cast<float>(p.Lift_V);
    logSpeeds(first, p.LiftII);
    outcome = moveWait(p.LiftI.X + p.LiftII.X, first, p.LiftII, true);
    if (outcome.end)
        return outcome;

    logger()->write(LogInfo, "%s [%d]", "waitBreathe", static_cast<int>(p.BreatheTime));
    setState(waitBreathe, waitMs(p.BreatheTime));
    if (!m_stop.sleepMs(waitMs(p.BreatheTime)))
        return aborted();

    const int64_t baseLayers = int64_t(model.attachLayers) + model.transitionLayers;
    if ((layer > 0 && layer % 50 == 0) || layer == baseLayers + 1)
        setMeasuredLayerTime(static_cast<float>(layerWatch.elapsedMs()) / 1000.0f);
    return goOn();
}

PrintThread::Outcome PrintThread::takeLayerParams(int layer)
{
    // The image thread reads each layer's parameters with its image and
    // hands them over under its own lock.
    switch (m_imageMaker->takeLayerParams(layer, kImageWaitMs, m_para)) {
    case ImageMaker::Params::Unchanged:
        return goOn();
    case ImageMaker::Params::Replaced:
        break;
    case ImageMaker::Params::Unreadable:
        logger()->write(LogError, "Layer %d: its parameters cannot be read", layer);
        return endWith(PrinterError::ImageTimeout);
    case ImageMaker::Params::Missing:
        if (stopped())
            return aborted();
        if (m_imageMaker->status() == ImageMaker::kMemoryFailed)
            return outOfMemory();
        logger()->write(LogError, "Layer %d: its parameters were not handed over", layer);
        return endWith(PrinterError::ImageTimeout);
    }
    matchDropToLift();
    if (const char* fault = layerParamsFault(m_para)) {
        logger()->write(LogError, "Layer %d refused: %s", layer, fault);
        return endWith(PrinterError::ImageTimeout);
    }
    return goOn();
}

PrintThread::Outcome PrintThread::waitImage()
{
    if (m_imageMaker->status() == ImageMaker::kMemoryFailed)
        return outOfMemory();
    if (m_imageMaker->waitFinished(kImageWaitMs))
        return goOn();
    if (stopped())
        return aborted();
    if (m_imageMaker->status() == ImageMaker::kMemoryFailed)
        return outOfMemory();
    if (m_imageMaker->imageFailed()) {
        logger()->write(LogError, "Layer %d: its image could not be made", m_layer.load());
        return endWith(PrinterError::ImageTimeout);
    }
    logger()->write(LogError, "Make Image Timeout");
    return endWith(PrinterError::ImageTimeout);
}

PrintThread::Outcome PrintThread::outOfMemory()
{
    logger()->write(LogError, "Memory Not Enough");
    return endWith(PrinterError::Memory);
}

PrintThread::Outcome PrintThread::exposeLayer(int layer)
{
    const int exposure = exposureTime(layer);
    logger()->write(LogInfo, "%s [%d], Layer[%d]", "waitExpose", exposure, layer);
    bool lightSwitched = false;
    bool exposed = false;
    setState(waitExpose, exposure);
    {
        // From the light's start to its end nothing else on the machine may
        // make the exposure late.
        const RealTimeSection realTime;
        if (!realTime.granted()) {
            m_exposuresWithoutRealTime.fetch_add(1);
            m_realTimeRefusal = realTime.refusal();
        }
        if (m_printer->lightOn() == 0) {
            // Timed from the moment the light is on, to an absolute instant: neither
            // a signal nor the time the switching took shortens the exposure.
            exposed = m_stop.sleepUntil(platform().clock().deadlineAfterMs(exposure));
            lightSwitched = m_printer->lightOff() == 0;
        }
    }
    if (!lightSwitched)
        return endWith(PrinterError::Light);
    return exposed ? goOn() : aborted();
}

PrintThread::Outcome PrintThread::pauseHere()
{
    setState(PauseMove);
    const MotorPara general = ConfigStore::instance()->m_printerConfig.MotorParaI;
    logger()->write(LogInfo, "%s: %.02f mm/s", "motorSpeed", static_cast<double>(general.V));
    float position = 0;
    float lift = static_cast<float>(m_para.printing.PauseOverLift);
    // Without a known position there is no telling whether the lift fits.
    if (m_printer->getPosition(position) < 0 || position + lift > m_printer->getMaxPosition())
        lift = 0;
    m_pauseLift = lift;
    Outcome outcome = moveWait(lift, general, general, false);
    if (outcome.end)
        return outcome;

    setState(PauseWait);
    m_printer->setPrintStatus(PrintStatus::Paused);
    logger()->write(LogInfo, "%s: %f", "MovePausePostion", static_cast<double>(lift));
    m_resumeSem->wait();
    while (m_pauseRequest && !stopped())
        m_stop.sleepMs(10);
    if (stopped())
        return aborted();

    setState(ResumeMove);
    logger()->write(LogInfo, "%s: %.02f mm/s", "motorSpeed", static_cast<double>(general.V));
    outcome = moveWait(-m_pauseLift, general, general, false);
    if (outcome.end)
        return outcome;
    setState(Resumed);
    m_printer->setPrintStatus(PrintStatus::Printing);
    logger()->write(LogInfo, "%s: %f", "MovePausePostion", static_cast<double>(-m_pauseLift));
    return goOn();
}

bool PrintThread::armMotor(unsigned int* generation)
{
    std::lock_guard<std::mutex> lock(m_cancelLock);
    if (m_stop.raised())
        return false;
    *generation = m_printer->motorStopGeneration();
    return true;
}

PrintThread::Outcome PrintThread::moveWait(float mm, const MotorPara& first, const MotorPara& second,
                                           bool twoStages)
{
    unsigned int generation = 0;
    if (!armMotor(&generation))
        return aborted();
    int rc;
    if (twoStages) {
        const MotorPara ramps[2] = {first, second};
        rc = m_printer->setMotorRamps(ramps);
    } else {
        rc = m_printer->setMotorRamp(first);
    }
    if (rc >= 0)
        rc = m_printer->moveWaitSince(mm, true, generation);
    return rc == 0 ? goOn() : motorFailed(rc);
}

PrintThread::Outcome PrintThread::motorFailed(int result)
{
    if (stopped())
        return aborted();
    logger()->write(LogError, "%s, %s, %s, %d", "motorMoveWait", PrinterError::Motor, strerror(result < 0 ? -result : result),
                    result);
    return endWith(PrinterError::Motor);
}

void PrintThread::logSpeeds(const MotorPara& first, const MotorPara& second) const
{
    logger()->write(LogInfo, "%s: V1:%.02f mm/s V2:%.02f mm/s", "motorSpeed", static_cast<double>(first.V),
                    static_cast<double>(second.V));
}

bool PrintThread::isBaseLayer(int layer) const
{
    return int64_t(layer) < int64_t(m_para.model.attachLayers) + m_para.model.transitionLayers;
}

int PrintThread::settleTime(int layer) const
{
    const PrintingPara& p = m_para.printing;
    const int64_t n = layer;
    const int64_t first = p.BaseSettleLayer;
    if (n < first)
        return waitMs(p.BaseSettleTime);
    if (n > first + p.BaseSettleTransLayer)
        return waitMs(p.SettleTime);
    if (p.BaseSettleTransLayer == 0)
        return waitMs(p.SettleTime);
    // A straight line from the base settle time down to the normal one.
    const float slope = (static_cast<float>(p.SettleTime) - static_cast<float>(p.BaseSettleTime)) /
                        static_cast<float>(p.BaseSettleTransLayer);
    const float ramp = static_cast<float>(p.BaseSettleTime) + static_cast<float>(n - first) * slope;
    const float settle = std::max(static_cast<float>(p.SettleTime), std::trunc(ramp));
    return settle >= static_cast<float>(INT_MAX) ? INT_MAX : static_cast<int>(settle);
}

int PrintThread::exposureTime(int layer) const
{
    const ModelInfo& m = m_para.model;
    if (!isBaseLayer(layer))
        return waitMs(m.normalExposure);
    // Falls in a straight line from the attach exposure towards the normal one.
    const float baseLayers = static_cast<float>(int64_t(m.attachLayers) + m.transitionLayers);
    const float step = (static_cast<float>(m.normalExposure) - static_cast<float>(m.attachExposure)) / baseLayers;
    const float exposure = std::trunc(static_cast<float>(m.attachExposure) + step * static_cast<float>(layer));
    if (!(exposure > 0))
        return 0;
    return exposure >= static_cast<float>(INT_MAX) ? INT_MAX : static_cast<int>(exposure);
}

void PrintThread::setState(PrintThreadState state, int waitMs)
{
    // An abort stays visible until the clean-up has finished the print.
    int current = m_state.load();
    while (current != Cancelled && !m_state.compare_exchange_weak(current, state)) {
    }
    if (m_stepListener)
        m_stepListener(PrintStep{m_layer.load(), state, waitMs});
}

void PrintThread::checkRealTime()
{
    m_exposuresWithoutRealTime = 0;
    const RealTimeSection probe;
    m_realTimeRefusal = probe.refusal();
    if (!probe.granted())
        logger()->write(LogWarn, "Exposure timing without real-time priority: SCHED_FIFO refused (%s)",
                        strerror(probe.refusal()));
}

// ---- Start and end ------------------------------------------------------------------

void PrintThread::printStart()
{
    checkRealTime();
    const ModelInfo& model = m_para.model;
    m_printer->lightOff();
    m_printer->setOutputHigh();
    const bool usable = std::isfinite(model.adjustX) && std::isfinite(model.adjustY) && model.adjustX > 0 &&
                        model.adjustY > 0;
    if (!usable)
        logger()->write(LogWarn, "Projection adjustment (%f, %f) unusable: printing unscaled",
                        static_cast<double>(model.adjustX), static_cast<double>(model.adjustY));
    m_printer->setCalibrationFactor(usable ? model.adjustX : 1.0f, usable ? model.adjustY : 1.0f);
    m_printer->enableScreen(true);
    m_printer->setPrintStatus(PrintStatus::Printing);
    {
        std::lock_guard<std::mutex> lock(m_resultLock);
        m_imageMaker = std::make_unique<ImageMaker>(m_printer, nullptr, -1);
        m_resumeSem = std::make_unique<Semaphore>(0);
    }
    setState(Started);
    m_imageMaker->start();
    m_imageMaker->requestImage();
    logger()->write(LogInfo, "%s", "printStart");
}

bool PrintThread::stopImageThread()
{
    std::unique_ptr<ImageMaker> imageMaker;
    {
        std::lock_guard<std::mutex> lock(m_resultLock);
        m_resumeSem.reset();
        imageMaker = std::move(m_imageMaker);
    }
    if (!imageMaker || imageMaker->stopWithin(kImageStopMs))
        return true;
    // A render does not end on request: the print ends without it.
    logger()->write(LogError, "The image thread is still rendering; the print ends without it");
    m_abandoned.push_back(std::move(imageMaker));
    return false;
}

void PrintThread::cleanupHandle()
{
    logger()->write(LogInfo, "%s", "cleanupHandle");
    PThread::msleep(10);
    printFinished();
    PThread::msleep(50);
}

void PrintThread::printFinished()
{
    m_printer->lightOff();
    m_printer->setOutputLow();
    // A render still running holds the projection.
    if (stopImageThread())
        m_printer->setCalibrationFactor(1.0f, 1.0f);
    m_printer->enableScreen(false);

    const MotorPara general = ConfigStore::instance()->m_printerConfig.MotorParaI;
    logger()->write(LogInfo, "%s: %.02f mm/s", "motorSpeed", static_cast<double>(general.V));
    m_printer->setMotorRamp(general);
    float position = 0;
    const bool known = m_printer->getPosition(position) >= 0;
    if (known)
        m_printer->moveWait(position, false); // settles the motor where it stands
    if (m_layer.load() != -1) {
        m_printer->move(static_cast<float>(m_para.printing.FinishOverLift), true);
    } else {
        m_printer->setMotorRamp(MotorPara{1.0f, 1.0f, 1.0f, 0});
        if (known && position < m_printer->getMaxPosition() / 2 - 10)
            m_printer->move(10.0f, true);
    }

    m_printer->disableMotorLocator(false);
    // Readers closed and the print time stored before anyone sees Ready.
    m_printer->resetPrintInfo();
    m_layer = -1;
    m_state = Finished;
    logger()->write(LogInfo, "%s", "printFinished");
    m_printer->setPrintStatus(PrintStatus::Ready);
}
