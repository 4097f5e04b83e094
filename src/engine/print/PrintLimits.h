#pragma once

#include "engine/slicefile/PrintRecords.h"

// Bounds on what a slice file may ask of the machine. Values outside them
// come from a damaged or hostile file, not from a print anyone meant.
constexpr float kMaxLayerHeightMm = 5.0f;
constexpr uint32_t kMaxExposureMs = 3600u * 1000u;

// Why a print's parameters cannot be printed, or null when they can: at
// least one layer, a layer height above 0 and at most kMaxLayerHeightMm, and
// the exposures it uses above 0 and at most an hour.
const char* printParamsFault(const PrintWorkPara& para);
// The same for one layer's parameters (the layer count is not checked).
const char* layerParamsFault(const PrintWorkPara& para);
