#pragma once

#include "base/threads/noncopyable.h"

#include <atomic>
#include <cstdint>

class ProjectControl;

// The UV light as the print engine sees it, driven through the display
// controller. Until initialize() has been given a controller every operation
// fails (lightOn false, lightOff 0, isLightOn 0, setDuty -ENODEV) and sends nothing.
// Any thread may call it; the controller keeps its bus to one caller at a time.
class UVLightControl : noncopyable
{
public:
    UVLightControl();
    ~UVLightControl();

    // Powers the controller up and sets its video input: 0, or -1 (also for no controller).
    int initialize(ProjectControl* projectCtl);

    bool lightOn();
    // 1 when the light was switched off, else 0.
    int lightOff(int);
    int isLightOn();
    // The light has one channel: the first duty (percent, held to 100) sets
    // its current; the others are neither kept nor sent.
    int setDuty(uint32_t duty0, uint32_t duty1, uint32_t duty2, uint32_t duty3);
    int setFrequency(uint32_t) { return 0; }

    void getDuty(uint32_t* duty0, uint32_t* duty1, uint32_t* duty2, uint32_t* duty3) const;
    int value() const { return m_value; }

private:
    bool ready(const char* operation) const;

    std::atomic<uint32_t> m_duty[4] = {};
    const int m_value = 0;
    std::atomic<ProjectControl*> m_projectCtl{nullptr};
};

// The light current (0-1023) for a duty in percent (held to 100).
uint16_t dutyToCurrent(uint32_t duty);
