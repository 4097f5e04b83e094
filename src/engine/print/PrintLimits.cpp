#include "engine/print/PrintLimits.h"

#include <cmath>

namespace {

bool usableExposure(uint32_t ms)
{
    return ms > 0 && ms <= kMaxExposureMs;
}

} // namespace

const char* layerParamsFault(const PrintWorkPara& para)
{
    const ModelInfo& model = para.model;
    if (!std::isfinite(model.layerHeight) || !(model.layerHeight > 0) || model.layerHeight > kMaxLayerHeightMm)
        return "layer height outside 0 to 5 mm";
    if (!usableExposure(model.normalExposure))
        return "exposure outside 0 to 3600 s";
    if (uint64_t(model.attachLayers) + model.transitionLayers > 0 && !usableExposure(model.attachExposure))
        return "attach exposure outside 0 to 3600 s";
    return nullptr;
}

const char* printParamsFault(const PrintWorkPara& para)
{
    if (para.model.layerCount == 0)
        return "no layers";
    return layerParamsFault(para);
}
