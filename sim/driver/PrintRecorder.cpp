#include "driver/PrintRecorder.h"

#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "engine/print/PrintThread.h"
#include "engine/slicefile/PrintTimeEstimate.h"

#include <algorithm>
#include <cstdio>

PrintRecorder::PrintRecorder(sim::SimMachine& machine, PrintThread& printThread, const std::string& outDir,
                             bool frames)
    : m_machine(machine), m_printThread(printThread), m_outDir(outDir),
      m_motionMark(machine.board().motor().motionNs())
{
    if (frames)
        m_writer = std::make_unique<FrameWriter>();
    m_printThread.setStepListener([this](const PrintStep& step) { onStep(step); });
    m_machine.board().display().setLightHook(
        [this](const sim::DisplayControllerModel::LightEvent& event) { onLight(event.on, event.timeNs); });
}

PrintRecorder::~PrintRecorder()
{
    finish();
}

void PrintRecorder::finish()
{
    m_machine.board().display().setLightHook(nullptr);
    m_printThread.setStepListener(nullptr);
    if (m_writer)
        m_writer->finish();
}

PrintRecorder::Layer* PrintRecorder::layerLocked(int layer)
{
    if (m_layers.empty() || m_layers.back().layer != layer) {
        Layer made;
        made.layer = layer;
        m_layers.push_back(made);
    }
    return &m_layers.back();
}

void PrintRecorder::onStep(const PrintStep& step)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastStep = step;
    m_stepped = true;
    switch (step.state) {
    case waitSettle:
        layerLocked(step.layer)->settleMs = step.waitMs;
        break;
    case waitExpose:
        layerLocked(step.layer)->exposureMs = step.waitMs;
        break;
    case waitRelease:
        layerLocked(step.layer)->releaseMs = step.waitMs;
        break;
    case waitBreathe:
        layerLocked(step.layer)->breatheMs = step.waitMs;
        break;
    case PauseMove:
        // Told with the layer that follows the pause.
        if (!m_layers.empty() && m_layers.back().layer == step.layer - 1)
            m_layers.back().pausedAfter = true;
        break;
    default:
        break;
    }
}

void PrintRecorder::onLight(bool on, int64_t timeNs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (on) {
        // The print loop told of the exposure before switching on.
        if (m_layers.empty() || m_layers.back().exposed())
            return;
        Layer& layer = m_layers.back();
        layer.onNs = timeNs;
        layer.measuredS = measuredLayerTime();
        layer.plateMm = m_machine.board().motor().physicalMm();
        const int64_t motion = m_machine.board().motor().motionNs();
        layer.movingNs = motion - m_motionMark;
        m_motionMark = motion;
        ++m_exposures;
        return;
    }
    m_offs.push_back(timeNs);
    if (m_layers.empty() || !m_layers.back().exposed() || m_layers.back().offNs >= 0)
        return;
    Layer& layer = m_layers.back();
    layer.offNs = timeNs;
    // The frame is taken at the switch-off, which does not lengthen the
    // exposure: nothing writes the panel while the light is on (the next
    // image is asked for only after the light is off).
    if (m_writer) {
        char name[32];
        snprintf(name, sizeof name, "frame-%04d.png", layer.layer + 1);
        sim::FrameBufferModel& frameBuffer = m_machine.board().frameBuffer();
        const int64_t start = timespecToNs(platform().clock().now());
        if (m_writer->add(m_outDir + "/" + name, [&] { return m_snapshot.take(frameBuffer); }))
            layer.frame = name;
        layer.captureNs = timespecToNs(platform().clock().now()) - start;
    }
}

std::vector<PrintRecorder::Layer> PrintRecorder::layers()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_layers;
}

size_t PrintRecorder::exposures()
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

bool PrintRecorder::lastExposure(int& layer, double& plateMm)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto l = m_layers.rbegin(); l != m_layers.rend(); ++l)
        if (l->exposed()) {
            layer = l->layer;
            plateMm = l->plateMm;
            return true;
        }
    return false;
}

int PrintRecorder::endLayer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stepped)
        return -1;
    // A layer's first step, taking its parameters, is not told: after the
    // breathe of layer n, or the homing, the print is in the next layer.
    if (m_lastStep.state == waitBreathe || m_lastStep.state == resetMotor)
        return std::max(0, m_lastStep.layer + 1);
    return m_lastStep.layer;
}

bool PrintRecorder::endedHoming()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stepped && m_lastStep.state == resetMotor;
}
