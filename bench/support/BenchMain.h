#pragma once

#include <string>

// Pairs a benchmark with its floor: after the run the ratio of their times
// per iteration is printed, which is what counts on a noisy machine.
void registerRatio(const std::string& benchmark, const std::string& floor);
