#pragma once

#include "base/config/ConfigRecords.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The records the print engine hands between its parts and to its callers.

// The engine state that pages and the remote link poll.
enum class PrintStatus : int32_t {
    None = 0, // until the printer is initialised
    Ready = 1,
    Homing = 2,
    Printing = 3,
    Paused = 4,
    Busy = 5,
    Error = 6,
};

// Live progress of a print.
struct PrintInfo
{
    int32_t layerCount = 0;
    int32_t currentLayer = 0;  // from 0
    float elapsedTime = 0;     // seconds
    float remainingTime = 0;   // seconds
};

// The details of a slice file; for a running print, its current values.
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
// timing set that goes with them.
struct PrintWorkPara
{
    ModelInfo model;
    PrintingPara printing;
};

// The result of a print or an initialisation: an 8-digit string names a
// failure; a print that made every layer ends with "0"; an aborted print has
// no value.
using PrinterErrorCode = std::optional<std::string>;

namespace PrinterError {
constexpr const char* PrintDone = "0";
constexpr const char* Memory = "00000005";
constexpr const char* Light = "00020001";
constexpr const char* Motor = "00020002";
constexpr const char* ImageTimeout = "00020003";
constexpr const char* ProjectorConfig = "00020015";
constexpr const char* LightInit = "00020016";
} // namespace PrinterError

// True for a value the shell shows as an error code: exactly 8 characters.
inline bool isErrorCode(const PrinterErrorCode& code)
{
    return code && code->size() == 8;
}
