#pragma once

#include <cstdint>
#include <vector>

// 8-bit layer images for tests, benchmarks and sample models.
namespace testwriters {

// A realistic layer: `shapes` filled discs and rectangles of value 255 on a
// black background, with one grey pixel of edge smoothing where a disc ends
// inside a row. Same seed, same image.
std::vector<uint8_t> shapesLayer(int width, int height, unsigned seed, int shapes = 36);
// Every pixel random: the longest pair stream an image can have.
std::vector<uint8_t> noiseLayer(int width, int height, unsigned seed);

} // namespace testwriters
