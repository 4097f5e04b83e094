#pragma once

#include "base/threads/PThread.h"

#include <atomic>
#include <cstddef>
#include <mutex>

class Printer;
class PrintMachine;

// Runs the printer's homing on a thread of its own, so that the page that
// asked for it stays responsive and can stop it.
class HomingThread : public PThread
{
public:
    static constexpr size_t kStackSize = 1024 * 1024;

    // The printer is reached only through its PrintMachine side.
    explicit HomingThread(Printer* printer);
    explicit HomingThread(PrintMachine* machine);
    ~HomingThread() override;

    // Starts a homing unless one runs: 0 when it started or one runs, -1
    // when no thread could be started.
    int start();
    // Ends a running homing (the axis stops where it is) and waits for the
    // thread. The axis is stopped only while this thread's homing runs: a
    // print that started after it keeps its motion.
    void stop();
    bool isFinished() const { return m_finished.load(); }

protected:
    void* threadMain() override;

private:
    PrintMachine* const m_printer;
    std::atomic<bool> m_finished{true};
    bool m_started = false;
    // Orders stop() against the thread's decision to start the axis.
    std::mutex m_stopLock;
    bool m_stopRequested = false;
    bool m_homing = false; // this thread's homing is under way
};
