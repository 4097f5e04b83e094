#pragma once

#include <termios.h>

namespace HardwareInterface {

// The termios speed for a baud rate; rates the port does not offer run at 19200.
speed_t uartSpeed(int baud);

// The line settings a serial port is opened with, made from its current ones:
// raw bytes, no flow control, a read that gives up after 2 s without data,
// and the given speed, parity ('N', 'E', 'O' in either case), data and stop bits.
termios uartSettings(const termios& current, int baud, char parity, int dataBits, int stopBits);

} // namespace HardwareInterface
