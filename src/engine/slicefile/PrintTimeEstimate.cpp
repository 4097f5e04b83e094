#include "engine/slicefile/PrintTimeEstimate.h"

#include "engine/slicefile/NumberConversion.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<float> g_measuredLayerTime{-1.0f};

// Seconds of Z motion per layer in each print mode.
double motionSeconds(uint32_t printMode)
{
    switch (printMode) {
    case 0: return 5.26084;
    case 1: return 2.32962;
    default: return 0;
    }
}

} // namespace

void setMeasuredLayerTime(float seconds)
{
    g_measuredLayerTime.store(seconds, std::memory_order_relaxed);
}

float measuredLayerTime()
{
    return g_measuredLayerTime.load(std::memory_order_relaxed);
}

uint32_t estimatePrintTime(const PrintWorkPara& work, unsigned currentLayer)
{
    const ModelInfo& m = work.model;
    const int64_t total = m.layerCount;
    const int64_t c = currentLayer;

    const float measured = measuredLayerTime();
    if (measured >= 0)
        return saturatingCast<uint32_t>(static_cast<double>(measured) * static_cast<double>(total - c));

    const int64_t a = m.attachLayers;
    const int64_t b = m.transitionLayers;
    const double attach = m.attachExposure / 1000.0;
    const double normal = m.normalExposure / 1000.0;
    const PrintingPara& p = work.printing;
    const double overhead =
        (static_cast<double>(p.SettleTime) + p.ReleaseTime + p.BreatheTime) / 1000.0 + motionSeconds(m.printMode);

    const int64_t restAttach = c <= a ? a - c : 0;
    const int64_t restTransition = c <= a ? b : (c <= a + b ? a + b - c : 0);
    const int64_t restNormal = std::max<int64_t>(0, c <= a + b ? total - a - b : total - c);

    double seconds = restAttach * attach + static_cast<double>(restAttach + restTransition + restNormal) * overhead +
                     restNormal * normal;
    if (restTransition > 0) // exposures step linearly from the attach down to the normal value
        seconds += restTransition * normal + (attach - normal) * static_cast<double>(restTransition + 1) / 2;
    return saturatingCast<uint32_t>(seconds);
}
