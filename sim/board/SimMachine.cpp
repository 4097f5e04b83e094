#include "board/SimMachine.h"

#include "base/platform/SysIo.h"

namespace sim {

SimMachine& SimMachine::boot(const Options& options)
{
    // Never deleted: the printer and its threads use the board and the clock
    // until the very end of the process.
    static SimMachine* const machine = new SimMachine(options);
    return *machine;
}

SimMachine::SimMachine(const Options& options)
    : m_clock(options.speed), m_clockInstalled(&m_clock), m_board(options.axis, options.frame)
{
    SysIo::install(&m_board.board());
}

} // namespace sim
