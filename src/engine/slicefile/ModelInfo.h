#pragma once

#include "base/config/ConfigRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The details of a slice file; for a running print, its current values. The
// readers fill it from the file.
struct ModelInfo
{
    std::string materialName;
    float layerHeight = 0;       // mm
    float volume = 0;
    uint32_t layerCount = 0;
    uint32_t printTime = 0;      // seconds, for the whole print
    uint32_t attachLayers = 0;   // first layers exposed with the attach exposure
    uint32_t transitionLayers = 0; // layers stepping from the attach to the normal exposure
    uint32_t attachExposure = 0; // ms
    uint32_t normalExposure = 0; // ms
    uint32_t lightIntensity = 0;
    uint32_t extraValue1 = 0;    // carried from the slice file, no fixed meaning
    uint32_t extraValue2 = 0;
    float adjustX = 0;
    float adjustY = 0;
    // Per-layer tables; no reader fills them.
    std::shared_ptr<const std::vector<uint32_t>> layerTable1;
    std::shared_ptr<const std::vector<uint32_t>> layerTable2;
    uint32_t printMode = 0;      // 1 selects the fast printing set
};

// The work parameters of a print: the model's values and the motion and
// timing set that goes with them. A qds reader makes one per layer.
struct PrintWorkPara
{
    ModelInfo model;
    PrintingPara printing;
};
