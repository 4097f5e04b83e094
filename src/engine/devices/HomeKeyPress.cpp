#include "engine/devices/HomeKeyPress.h"

void HomeKeyPress::pressed(int64_t nowNs)
{
    m_pressed = true;
    m_pressNs = nowNs;
}

HomeKeyPress::Kind HomeKeyPress::released(int64_t nowNs, int* ms)
{
    if (!m_pressed)
        return None;
    // One press, one release: a second release must not be timed from an old press.
    m_pressed = false;
    const int64_t length = (nowNs - m_pressNs) / 1000000;
    *ms = static_cast<int>(length);
    return classify(length);
}

HomeKeyPress::Kind HomeKeyPress::classify(int64_t ms)
{
    if (ms <= kShortMaxMs)
        return Short;
    if (ms >= kLongMinMs)
        return Long;
    return None;
}
