#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Projection correction files for tests and benchmarks: for every target
// pixel a source position x 1,000,000 (1-based column, then row), first the
// X array, then the Y array, little-endian u32, row-major.
namespace testwriters {

// `source(x, y, sx, sy)` gives the source position of target pixel (x, y) in millionths.
using CorrectionSource = std::function<void(int x, int y, uint32_t& sx, uint32_t& sy)>;

std::string correctionFile(int width, int height, const CorrectionSource& source);
// Every pixel sampled from itself.
std::string identityCorrection(int width, int height);
// Every pixel sampled from (x + dx, y + dy), offsets in millionths of a pixel.
std::string shiftedCorrection(int width, int height, int64_t dx, int64_t dy);
// A projector's correction: a slight enlargement, turn and bow about the
// centre and a shift of a fraction of a pixel, as a calibrated light engine
// needs; its sources step a column or a row every few hundred pixels, and
// a few pixels at the corners sample from outside.
std::string projectorCorrection(int width, int height);

} // namespace testwriters
