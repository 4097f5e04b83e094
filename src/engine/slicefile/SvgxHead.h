#pragma once

#include "engine/slicefile/SliceParams.h"

#include <optional>
#include <string>

// The print parameters of the ".svgx" file at `path` (file-system path), for
// callers that want a model's details without reading its layers; none when
// the file cannot be opened or has no usable parameters.
std::optional<SliceParams> readSvgxParams(const std::string& path);
