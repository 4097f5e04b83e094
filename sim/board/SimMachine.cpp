#include "board/SimMachine.h"

namespace sim {

SimMachine& SimMachine::boot(const Options& options)
{
    // Never deleted: the printer and its threads use the board and the clock
    // until the very end of the process.
    static SimMachine* const machine = new SimMachine(options);
    return *machine;
}

SimMachine::SimMachine(const Options& options) : m_clock(options.speed), m_board(options.axis, options.frame)
{
}

} // namespace sim
