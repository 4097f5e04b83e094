#pragma once

#include <cstdint>

// Times the presses of a key from its debounced levels and tells what each
// release was: a short click up to 1000 ms, a long one from 2500 ms, nothing
// in between or for a release without a recorded press.
class HomeKeyPress
{
public:
    enum Kind { None, Short, Long };
    static constexpr int64_t kShortMaxMs = 1000;
    static constexpr int64_t kLongMinMs = 2500;

    // The key went down (level 0) at a machine time.
    void pressed(int64_t nowNs);
    // The key came up: what the press was, with its length in `ms`.
    Kind released(int64_t nowNs, int* ms);

    static Kind classify(int64_t ms);

private:
    bool m_pressed = false;
    int64_t m_pressNs = 0;
};
