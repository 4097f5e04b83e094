#pragma once

#include <cstddef>
#include <cstdint>

// The image steps of the layer projection, on planes of 8-bit panel pixels
// (row-major, rows packed). Every step of a shown layer works on the gray
// level of a pixel, so they all run on one plane before it is written out.

// v = (v x mask + 254) / 255 for every pixel.
void applyMask(uint8_t* plane, const uint8_t* mask, size_t count);
// v = 255 - v for every pixel.
void reversePlane(uint8_t* plane, size_t count);
// Turns the plane left to right and/or upside down, in place.
void mirrorPlane(uint8_t* plane, int width, int height, bool mirrorX, bool mirrorY);
// dst = the weighted sum of each pixel's 3 x 3 neighbourhood (centre
// 0.147761, edges 0.118318, corners 0.0947416), truncated; the border is
// black. dst may be src.
void smoothPlane(const uint8_t* src, uint8_t* dst, int width, int height);
