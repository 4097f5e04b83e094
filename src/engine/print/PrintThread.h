#pragma once

#include "base/threads/PThread.h"
#include "base/threads/Semaphore.h"
#include "base/threads/StopSignal.h"
#include "engine/slicefile/ModelInfo.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class ImageMaker;
class Printer;
class PrintMachine;

// The steps of a print, as the facade and the pages see them.
enum PrintThreadState : int32_t {
    PrintThreadIdle = 0, // constructed, never started
    Started = 1,
    dropMotor = 2,
    waitSettle = 3,
    waitExpose = 4,
    waitRelease = 6,
    liftMotor = 7,
    waitBreathe = 8,
    Finished = 9,
    PauseMove = 10,
    PauseWait = 11,
    ResumeMove = 12,
    Resumed = 13,
    Cancelled = 14,
    resetMotor = 15,
};

// One step of a print as the print thread takes it: the layer being made
// (from 0; for the pause states the layer that follows the pause), the state
// it enters and, for the waits (settle, exposure, release, breathe), the
// milliseconds it waits; -1 for the other steps.
struct PrintStep
{
    int layer = -1;
    int state = PrintThreadIdle;
    int waitMs = -1;
};

// Walks the layers of a print: homes, and for every layer lowers the plate,
// lets the resin settle, waits for the layer image, exposes it, releases,
// lifts and breathes; parks at a pause position when asked. One object for
// the life of the printer, started once per print.
//
// Abort, pause and resume are cooperative: a stop request is checked after
// every step and wakes every wait (sleeps, the resume wait, the image wait and
// the motor's waits), so the print ends at once with the light off, and the
// clean-up always runs on the print thread itself.
class PrintThread : public PThread
{
public:
    static constexpr size_t kStackSize = 512 * 1024;
    // The longest the print waits for the image thread, in real time.
    static constexpr int kImageWaitMs = 15000;
    // How long the end of a print waits for the image thread to leave a
    // render; past it the thread is left to finish on its own.
    static constexpr int kImageStopMs = 2000;
    // Lift and drop distances closer than this count as equal.
    static constexpr float kDistanceToleranceMm = 0.001f;

    // The printer is reached only through its PrintMachine side.
    explicit PrintThread(Printer* printer);
    explicit PrintThread(PrintMachine* machine);
    ~PrintThread() override;

    // Accepts a print and starts the thread; 0, or -1 while a print runs.
    int init(const PrintWorkPara& para);
    int pause();
    // 0, or -1 when no print holds at a pause.
    int resume();
    // Aborts the running print; 0 (also when nothing runs: a print that has
    // ended keeps its result).
    int cancel();

    bool isPauseRequested() const { return m_pauseRequest.load(); }
    bool isCancelled() const { return m_state.load() == Cancelled; }
    bool isResumeMoving() const { return m_state.load() == ResumeMove; }
    bool isFinished() const { return m_state.load() == Finished && m_layer.load() == -1; }
    bool isRunning() const { return m_running.load(); }
    int state() const { return m_state.load(); }
    int currentLayer() const;
    // The result of the print that ended last: "0", an 8-digit error code,
    // or null after an abort (or before any print ended). Waits only for that
    // print's thread to leave, never for a print that runs. The text is a
    // constant: it stays valid whatever later prints do.
    const char* exitValue();
    void updateModeLayerInfo(uint64_t layer, uint32_t a, uint32_t b);

    // Told of every step of later prints, on the print thread, as the step
    // begins (the exposure's before the light goes on); it must return
    // quickly. Set or cleared only while no print runs.
    using StepListener = std::function<void(const PrintStep&)>;
    void setStepListener(StepListener listener) { m_stepListener = std::move(listener); }

    // The exposures of the running or last print made without real-time
    // priority, and why the last one was refused (an errno value; 0 when none was).
    int exposuresWithoutRealTime() const { return m_exposuresWithoutRealTime.load(); }
    int realTimeRefusal() const { return m_realTimeRefusal.load(); }

protected:
    void* threadMain() override;

private:
    // The outcome of one step: go on, or end the print with a result.
    struct Outcome
    {
        bool end = false;
        const char* code = nullptr; // with end: one of PrinterError's texts; null means aborted
    };
    static Outcome goOn() { return {}; }
    static Outcome endWith(const char* code) { return {true, code}; }
    static Outcome aborted() { return {true, nullptr}; }

    Outcome run();
    Outcome makeLayer(int layer);
    Outcome takeLayerParams(int layer);
    Outcome waitImage();
    Outcome outOfMemory();
    Outcome exposeLayer(int layer);
    Outcome pauseHere();
    Outcome moveWait(float mm, const MotorPara& first, const MotorPara& second, bool twoStages);
    Outcome motorFailed(int result);
    // Takes the motor's stop count unless a stop came first; false then.
    bool armMotor(unsigned int* generation);
    bool stopped() const { return m_stop.raised(); }

    // A lift and a drop of different lengths would walk the plate away layer
    // by layer: the drop is made to match the lift.
    void matchDropToLift();
    void joinEndedThread();
    void reapImageThreads();
    // False when the image thread is still in a render and was left to end by itself.
    bool stopImageThread();

    void printStart();
    void cleanupHandle();
    void printFinished();
    // Enters a step and tells the step listener; `waitMs` for the waits.
    void setState(PrintThreadState state, int waitMs = -1);
    // Says in the log, at every print's start, when the exposures cannot
    // have real-time priority.
    void checkRealTime();
    bool isBaseLayer(int layer) const;
    int settleTime(int layer) const;
    int exposureTime(int layer) const;
    void logSpeeds(const MotorPara& first, const MotorPara& second) const;

    PrintMachine* const m_printer;
    std::unique_ptr<ImageMaker> m_imageMaker;
    // Image threads that did not leave their render in time at the end of a
    // print; no print starts until they have ended.
    std::vector<std::unique_ptr<ImageMaker>> m_abandoned;
    std::unique_ptr<Semaphore> m_resumeSem;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_state{PrintThreadIdle};
    std::atomic<int> m_layer{-1};
    std::atomic<bool> m_pauseRequest{false};
    PrintWorkPara m_para;
    float m_pauseLift = 0;
    bool m_mismatchLogged = false;
    StepListener m_stepListener;
    std::atomic<int> m_exposuresWithoutRealTime{0};
    std::atomic<int> m_realTimeRefusal{0};

    StopSignal m_stop;
    // Orders a stop against the print thread's decision to start motion.
    std::mutex m_cancelLock;
    // Guards the result and the semaphore against pages and the remote link.
    std::mutex m_resultLock;
    const char* m_exit = nullptr;
    // One joiner at a time (a new print, a reader of the result, the
    // destructor); a new print holds it until its thread runs.
    std::mutex m_joinLock;
};
