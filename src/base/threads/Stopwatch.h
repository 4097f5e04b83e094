#pragma once

#include <cstdint>
#include <sys/time.h>

// Measures time on the monotonic machine clock, so a step of the wall clock
// never makes a measured time jump or turn negative.
class Stopwatch
{
public:
    Stopwatch();

    void start();
    // Whole seconds between the two readings' second counts.
    int64_t elapsedSec();
    // Whole milliseconds since the start.
    int64_t elapsedMs();

private:
    static timeval read();

    timeval m_start;
    timeval m_latest;
};
