#pragma once

#include "engine/slicefile/ModelInfo.h"

// Bounds on what a slice file may ask of the machine. Values outside them
// come from a damaged or hostile file, not from a print anyone meant.
constexpr float kMaxLayerHeightMm = 5.0f;
// No resin cures in a thinner layer, and the plate would hardly move.
constexpr float kMinLayerHeightMm = 0.001f;
constexpr uint32_t kMaxExposureMs = 3600u * 1000u;
// The projection scale an ".svgx" file may ask for (its projectionadjust, in
// percent): a calibration, not a different model.
constexpr float kMinProjectionAdjust = 0.5f;
constexpr float kMaxProjectionAdjust = 2.0f;

// Why a print's parameters cannot be printed, or null when they can: at
// least one layer, a layer height from kMinLayerHeightMm to
// kMaxLayerHeightMm, and the exposures it uses above 0 and at most an hour.
const char* printParamsFault(const PrintWorkPara& para);
// The same for one layer's parameters (the layer count is not checked).
const char* layerParamsFault(const PrintWorkPara& para);
// Why the projection scale of an ".svgx" print (adjustX, adjustY as factors)
// cannot be used, or null when both lie from kMinProjectionAdjust to
// kMaxProjectionAdjust.
const char* projectionAdjustFault(const ModelInfo& model);
