#pragma once

#include "base/config/ConfigStore.h"

// What the parts of the layer projection share: the machine configuration
// they read at each show, and the name their log lines give for the source.
namespace projectview {

inline const PrinterConfig& config()
{
    return ConfigStore::instance()->m_printerConfig;
}

constexpr const char* kSourcePath = "src/engine/ProjectView";

} // namespace projectview
