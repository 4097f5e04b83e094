#pragma once

#include <cstdint>
#include <vector>

// 8-bit layer images for tests, benchmarks and sample models.
namespace testwriters {

// A realistic layer: `shapes` filled discs and rectangles of value 255 on a
// black background, with one grey pixel of edge smoothing where a disc ends
// inside a row. Same seed, same image.
std::vector<uint8_t> shapesLayer(int width, int height, unsigned seed, int shapes = 36);
// A cross-section of a printed plate, layer `layer` of it: solid parts,
// hollow parts (a shell around an empty inside), a grid of thin supports
// under them, all with anti-aliased edges (the covered part of an edge pixel
// as its gray level). Neighbouring layers differ slightly, as a model's do.
std::vector<uint8_t> modelLayer(int width, int height, int layer);
// Every pixel random: the longest pair stream an image can have.
std::vector<uint8_t> noiseLayer(int width, int height, unsigned seed);

} // namespace testwriters
