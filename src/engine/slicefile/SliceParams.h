#pragma once

#include "engine/slicefile/ModelInfo.h"

#include <cstdint>
#include <string>

// The print parameters of an ".svgx" file (its `printparams` element), with
// the values a file gets where it says nothing.
struct SliceParams
{
    std::string materialName;
    float layerHeight = 0.1f;    // mm
    float volume = 0;
    uint32_t layerCount = 0;
    uint32_t attachLayers = 0;     // first layers exposed with the attach exposure
    uint32_t transitionLayers = 8; // layers stepping from the attach to the normal exposure
    uint32_t attachExposure = 0;   // ms
    uint32_t normalExposure = 0;   // ms
    uint32_t lightIntensity = 1;
    uint32_t extraValue1 = 0;      // no attribute sets these
    uint32_t extraValue2 = 0;
    // Projection scale in percent (the printer divides by 100): a file
    // without it prints unscaled.
    float adjustX = 100;
    float adjustY = 100;
    float minX = 0, minY = 0, minZ = 0;
    float maxX = 0, maxY = 0, maxZ = 0;
    uint32_t printMode = 0; // 1 selects the fast printing set
};

// The model details of the parameters (the print range stays behind).
ModelInfo toModelInfo(const SliceParams& params);
