#pragma once

#include "board/PrinterBoard.h"
#include "board/ScaledClock.h"

namespace sim {

// The simulated machine for a whole process: a machine clock running `speed`
// times faster than real time and the printer's board, both installed from
// boot() until the process exits. The engine's printer lives until exit
// too, so neither may go away before it does.
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

    // The board's models read the clock from the start: it is installed first.
    struct Installed
    {
        explicit Installed(Clock* clock) { Clock::install(clock); }
    };

    ScaledClock m_clock;
    Installed m_clockInstalled;
    PrinterBoard m_board;
};

} // namespace sim
