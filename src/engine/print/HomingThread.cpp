#include "engine/print/HomingThread.h"

#include "engine/print/PrintMachine.h"

#include <cstdint>
#include <cstdio>

HomingThread::HomingThread(Printer* printer) : HomingThread(machineOf(printer)) {}

HomingThread::HomingThread(PrintMachine* machine) : m_printer(machine) {}

HomingThread::~HomingThread()
{
    if (m_started)
        stop();
}

int HomingThread::start()
{
    if (!m_finished) {
        puts("HomingThread running");
        return 0;
    }
    // The last homing has reported its end, but its thread may still be on
    // its way out, and a thread that has not ended cannot start again.
    if (m_started) {
        join();
        m_started = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_stopRequested = false;
    }
    m_finished = false;
    // Joinable, so that stop() can wait for the end.
    if (PThread::start(false, kStackSize) != 0) {
        m_finished = true;
        return -1;
    }
    m_started = true;
    return 0;
}

void HomingThread::stop()
{
    PThread::msleep(10);
    if (!m_started)
        return;
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_stopRequested = true;
        if (m_homing && !m_printer->isPrinting())
            m_printer->stopMotor(); // wakes the homing wait
    }
    join();
    m_started = false;
    m_finished = true;
}

void* HomingThread::threadMain()
{
    unsigned int generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        if (m_stopRequested) {
            m_finished = true;
            return reinterpret_cast<void*>(static_cast<intptr_t>(-1));
        }
        generation = m_printer->motorStopGeneration();
        m_homing = true;
    }
    const int result = m_printer->startHomingSince(generation, true);
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_homing = false;
    }
    m_finished = true;
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}
