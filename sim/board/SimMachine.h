#pragma once

#include "base/platform/Platform.h"
#include "board/PrinterBoard.h"
#include "board/ScaledClock.h"

namespace sim {

// The simulated machine for a whole process: a machine clock running `speed`
// times faster than real time and the printer's board, installed as the
// platform from boot() until the process exits. The engine's printer lives
// until exit too, so neither may go away before it does.
class SimMachine
{
public:
    struct Options
    {
        double speed = 1.0;
        AxisConfig axis;
        FrameBufferModel::Geometry frame; // the projector frame buffer
    };

    // Boots the machine once; later calls return the same one.
    static SimMachine& boot(const Options& options);

    PrinterBoard& board() { return m_board; }
    ScaledClock& clock() { return m_clock; }

private:
    explicit SimMachine(const Options& options);

    ScaledClock m_clock;
    // The board's models read the clock as they are made: it goes in first.
    ScopedPlatform m_clockInstalled{&m_clock};
    PrinterBoard m_board;
    ScopedPlatform m_boardInstalled{&m_board.board()};
};

} // namespace sim
