#include "driver/PrintRecorder.h"

#include "base/Clock.h"

#include <chrono>
#include <cstdio>

PrintRecorder::PrintRecorder(sim::SimMachine& machine, const std::string& outDir, bool frames)
    : m_machine(machine), m_outDir(outDir), m_frames(frames)
{
    m_machine.board().display().setLightHook(
        [this](const sim::DisplayControllerModel::LightEvent& event) { onLight(event.on, event.timeNs); });
    m_sampler = std::thread(&PrintRecorder::sampleMotion, this);
    m_writer = std::thread(&PrintRecorder::writeFrames, this);
}

PrintRecorder::~PrintRecorder()
{
    finish();
}

void PrintRecorder::finish()
{
    m_machine.board().display().setLightHook(nullptr);
    m_stop = true;
    if (m_sampler.joinable())
        m_sampler.join();
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_writerDone = true;
    }
    m_queued.notify_all();
    if (m_writer.joinable())
        m_writer.join();
}

void PrintRecorder::onLight(bool on, int64_t timeNs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (on) {
        Exposure exposure;
        exposure.onNs = timeNs;
        exposure.plateMm = m_machine.board().motor().physicalMm();
        exposure.movingNs = m_movingNs;
        m_movingNs = 0;
        m_exposures.push_back(exposure);
        return;
    }
    m_offs.push_back(timeNs);
    if (m_exposures.empty() || !m_exposures.back().isOpen())
        return;
    Exposure& exposure = m_exposures.back();
    exposure.offNs = timeNs;
    // The frame is taken at the switch-off, which does not lengthen the
    // exposure: nothing writes the panel while the light is on (the next
    // image is asked for only after the light is off).
    if (m_frames) {
        char name[32];
        snprintf(name, sizeof name, "frame-%04zu.png", m_exposures.size() - 1);
        exposure.frame = name;
        QImage frame = m_machine.board().frameBuffer().frame();
        {
            std::lock_guard<std::mutex> queue(m_queueLock);
            m_queue.emplace_back(m_outDir + "/" + name, std::move(frame));
        }
        m_queued.notify_one();
    }
}

// Samples the axis once a real millisecond and adds up the machine time it moved.
void PrintRecorder::sampleMotion()
{
    int64_t last = timespecToNs(Clock::instance().now());
    while (!m_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int64_t now = timespecToNs(Clock::instance().now());
        const bool moving = m_machine.board().motor().isMoving();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (moving)
            m_movingNs += now - last;
        last = now;
    }
}

void PrintRecorder::writeFrames()
{
    for (;;) {
        std::pair<std::string, QImage> item;
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            m_queued.wait(lock, [this] { return !m_queue.empty() || m_writerDone; });
            if (m_queue.empty())
                return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!item.second.save(QString::fromStdString(item.first), "PNG"))
            fprintf(stderr, "talviks-sim: cannot write %s\n", item.first.c_str());
    }
}

std::vector<PrintRecorder::Exposure> PrintRecorder::exposures()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exposures;
}

int64_t PrintRecorder::lightOffAfter(int64_t ns)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int64_t off : m_offs)
        if (off >= ns)
            return off;
    return -1;
}
