#pragma once

#include "base/LogWriter.h"

// Log levels of the process log, by name.
enum : int { LogDebug = 0, LogInfo = 1, LogWarn = 2, LogError = 3 };

#define ENGINE_LOG(level, ...) LogWriter::instance()->write((level), __VA_ARGS__)

// The process log, for the engine's many log lines.
inline LogWriter* logger()
{
    return LogWriter::instance();
}
