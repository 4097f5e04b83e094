#pragma once

#include "board/SimMachine.h"
#include "driver/FrameSnapshot.h"
#include "driver/FrameWriter.h"
#include "engine/print/PrintThread.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Watches a print on the simulated machine: the waits the print loop takes
// at each layer (told by the print thread itself), every switch of the light
// with the plate's height and the time the axis spent moving since the last
// exposure, and every exposed frame, written as a PNG by a writer of its own.
class PrintRecorder
{
public:
    // One layer as the simulator saw it.
    struct Layer
    {
        int layer = -1; // from 0, as the print loop counts
        int settleMs = -1, exposureMs = -1, releaseMs = -1, breatheMs = -1;
        int64_t onNs = -1;  // light on, machine time; -1 when it was not
        int64_t offNs = -1; // light off; -1 while on
        double plateMm = 0; // at the switch-on
        int64_t movingNs = 0;     // axis in motion since the previous switch-on (or the start)
        bool pausedAfter = false; // the print paused after this layer
        std::string frame;        // file name of the frame, if written
        int64_t captureNs = 0;    // the print held while its frame was taken
        float measuredS = -1;     // the measured time of a layer at the switch-on; -1 while none was
        bool exposed() const { return onNs >= 0; }
    };

    PrintRecorder(sim::SimMachine& machine, PrintThread& printThread, const std::string& outDir, bool frames);
    ~PrintRecorder();

    std::vector<Layer> layers();
    size_t exposures();
    // The last layer whose light went on (from 0) and the plate's height
    // then; false before the first.
    bool lastExposure(int& layer, double& plateMm);
    // The layer (from 0) the print was making when it stopped: the layer of
    // its last step, or the next one when that step was a layer's last wait
    // (the breathe) or the homing. -1 before the print's first step.
    int endLayer();
    // Whether the print's last step was the homing.
    bool endedHoming();
    // Machine time of the first switch-off at or after `ns`; -1 when none.
    int64_t lightOffAfter(int64_t ns);
    // Stops listening and waits until every queued frame is written.
    void finish();
    // The frame writer; null when no frames are written.
    const FrameWriter* frameWriter() const { return m_writer.get(); }

private:
    void onStep(const PrintStep& step);
    void onLight(bool on, int64_t timeNs);
    Layer* layerLocked(int layer);

    sim::SimMachine& m_machine;
    PrintThread& m_printThread;
    const std::string m_outDir;

    std::mutex m_mutex;
    std::vector<Layer> m_layers;
    std::vector<int64_t> m_offs;
    size_t m_exposures = 0;
    PrintStep m_lastStep;
    bool m_stepped = false;
    int64_t m_motionMark = 0; // the axis's motion time at the last switch-on
    FrameSnapshot m_snapshot;
    std::unique_ptr<FrameWriter> m_writer;
};
