#pragma once

#include <functional>

// Runs `band(first, end)` over [0, rows) split into contiguous bands, one per
// available core (the calling thread takes one), and returns when all are
// done. Few rows run on the calling thread alone.
void forEachRowBand(int rows, const std::function<void(int first, int end)>& band);
