#pragma once

#include "board/SimMachine.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Watches a print on the simulated machine: every switch of the light (with
// the plate's height and the time the axis spent moving since the last
// exposure), and every exposed frame, written as a PNG by a thread of its own.
class PrintRecorder
{
public:
    struct Exposure
    {
        int64_t onNs = 0;   // machine time
        int64_t offNs = -1;
        double plateMm = 0;
        int64_t movingNs = 0; // axis in motion since the previous switch-on
        std::string frame;    // file name of the frame, if written
        bool isOpen() const { return offNs < 0; }
    };

    PrintRecorder(sim::SimMachine& machine, const std::string& outDir, bool frames);
    ~PrintRecorder();

    std::vector<Exposure> exposures();
    // Machine time of the first switch-off at or after `ns`; -1 when none.
    int64_t lightOffAfter(int64_t ns);
    // Stops the sampler and waits until every frame is written.
    void finish();

private:
    void onLight(bool on, int64_t timeNs);
    void sampleMotion();
    void writeFrames();

    sim::SimMachine& m_machine;
    const std::string m_outDir;
    const bool m_frames;

    std::mutex m_mutex;
    std::vector<Exposure> m_exposures;
    std::vector<int64_t> m_offs;
    int64_t m_movingNs = 0; // guarded by m_mutex

    std::atomic<bool> m_stop{false};
    std::thread m_sampler;

    std::mutex m_queueLock;
    std::condition_variable m_queued;
    std::deque<std::pair<std::string, QImage>> m_queue;
    bool m_writerDone = false;
    std::thread m_writer;
};
