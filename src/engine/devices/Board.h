#pragma once

// The machine's wiring as the engine sees it: every GPIO line and device
// node the controllers use, in one place. Line 0 is no line: operations on
// it do nothing, which is how parts this machine lacks stay inert.
//
// The simulated board (sim/board/PrinterBoard.h) keeps its own copy of these
// numbers on purpose: a wrong number here or there shows up as a test that
// waits on a line nobody drives.
namespace board {

// GPIO lines.
constexpr unsigned int kBuzzerLine = 0;         // no buzzer fitted
constexpr unsigned int kMotorEnableLine = 1;    // Z stepper driver enable
constexpr unsigned int kHomeKeyLine = 4;        // 0 while the home key is held
constexpr unsigned int kZLimitLine = 8;         // 0 while the Z limit switch is closed
constexpr unsigned int kProjectorPowerLine = 30; // display controller power
constexpr unsigned int kAuxInputLine = 158;
constexpr unsigned int kDoorLine = 203;         // 1 while the door is closed
// The microcontroller's boot line (also its report-select line) and reset
// line are not wired on any machine of this system.
constexpr unsigned int kMcuBootLine = 0;
constexpr unsigned int kMcuResetLine = 0;
// The printer's three output lines are not wired either.
constexpr unsigned int kOutputLines[3] = {0, 0, 0};

// Device nodes.
constexpr const char* kStepperSpi = "/dev/spidev0.0";
constexpr const char* kDisplayI2c = "/dev/i2c-0";
constexpr const char* kProjectorFrameBuffer = "/dev/fb2";

} // namespace board
