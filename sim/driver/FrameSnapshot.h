#pragma once

#include "board/FrameBufferModel.h"

#include <QImage>

// Takes the visible frame of the projector's frame buffer as it should be
// looked at: 8-bit gray when every pixel carries one gray level (in one of
// its three bytes with the other two zero, or in all three alike), else the
// three bytes as RGB (a sub-pixel panel, or a colour image). It tries the
// form the last frame had first, so a print's frames take one pass each.
class FrameSnapshot
{
public:
    // Null unless the frame buffer has 24 bits per pixel.
    QImage take(sim::FrameBufferModel& frameBuffer);

private:
    int m_form = 0; // the gray form of the last frame (see the .cpp)
};
