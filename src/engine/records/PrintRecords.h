#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The records the engine's rooms hand to each other and to its callers that
// belong to no one room: the engine state, the live progress and the result
// codes. The details of a slice file live with the readers (ModelInfo.h).

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
