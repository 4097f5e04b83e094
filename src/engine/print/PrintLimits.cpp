#include "engine/print/PrintLimits.h"

#include <cmath>

namespace {

bool usableExposure(uint32_t ms)
{
    return ms > 0 && ms <= kMaxExposureMs;
}

bool usableAdjust(float factor)
{
    return factor >= kMinProjectionAdjust && factor <= kMaxProjectionAdjust; // false for NaN
}

} // namespace

const char* layerParamsFault(const PrintWorkPara& para)
{
    const ModelInfo& model = para.model;
    if (!(model.layerHeight >= kMinLayerHeightMm && model.layerHeight <= kMaxLayerHeightMm))
        return "layer height outside 0.001 to 5 mm";
    if (!usableExposure(model.normalExposure))
        return "exposure outside 0 to 3600 s";
    if (uint64_t(model.attachLayers) + model.transitionLayers > 0 && !usableExposure(model.attachExposure))
        return "attach exposure outside 0 to 3600 s";
    return nullptr;
}

const char* projectionAdjustFault(const ModelInfo& model)
{
    if (!usableAdjust(model.adjustX) || !usableAdjust(model.adjustY))
        return "projection adjustment outside 50 to 200 %";
    return nullptr;
}

const char* printParamsFault(const PrintWorkPara& para)
{
    if (para.model.layerCount == 0)
        return "no layers";
    return layerParamsFault(para);
}
