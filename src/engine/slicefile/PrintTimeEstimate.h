#pragma once

#include "engine/slicefile/ModelInfo.h"

#include <cstdint>

// Remaining print time in whole seconds from layer `currentLayer` (from 0):
// the measured seconds per layer times the layers left once the print loop has
// measured one, else a sum of exposures, waits and motion per layer.
uint32_t estimatePrintTime(const PrintWorkPara& work, unsigned currentLayer);

// The measured seconds per layer; a negative value means "not measured yet"
// (the value at start-up and after every print). Any thread may call these.
void setMeasuredLayerTime(float seconds);
float measuredLayerTime();
