#pragma once

#include "board/DisplayControllerModel.h"
#include "board/FrameBufferModel.h"
#include "board/GpioModel.h"
#include "board/I2cBusModel.h"
#include "board/InputEventModel.h"
#include "board/SimBoard.h"
#include "board/StepperDriverModel.h"

#include <memory>

namespace sim {

// The printer's board with every device the engine's controllers and input
// watchers use: the GPIO lines, the Z stepper driver on "/dev/spidev0.0", the
// display controller at 0x1B on "/dev/i2c-0", the projector's frame buffer
// "/dev/fb2", and an input-event device for the door keys. The door starts closed, the home key released, the aux
// input low. Install it with ScopedPlatform(&printerBoard.board()).
//
// Models that read machine time (the stepper's motion, the light timeline)
// use the installed Clock: install a scaled clock before the board is made
// and remove it after the board is gone.
class PrinterBoard
{
public:
    // The board's own copy of the wiring, kept apart from the engine's
    // (src/engine/devices/Board.h) on purpose: were one of them wrong, the
    // engine would drive or watch a line this board does not, and the tests
    // that wait on that line would say so.
    static constexpr unsigned int kMotorEnableLine = 1;
    static constexpr unsigned int kHomeKeyLine = 4;
    static constexpr unsigned int kLimitLine = 8;
    static constexpr unsigned int kProjectorPowerLine = 30;
    static constexpr unsigned int kAuxLine = 158;
    static constexpr unsigned int kDoorLine = 203;
    static constexpr const char* kI2cPath = "/dev/i2c-0";

    explicit PrinterBoard(const AxisConfig& axis = AxisConfig(),
                          const FrameBufferModel::Geometry& frame = FrameBufferModel::Geometry());
    ~PrinterBoard();
    PrinterBoard(const PrinterBoard&) = delete;
    PrinterBoard& operator=(const PrinterBoard&) = delete;

    SimBoard& board() { return m_board; }
    GpioModel& gpio() { return *m_gpio; }
    StepperDriverModel& motor() { return *m_motor; }
    DisplayControllerModel& display() { return *m_display; }
    I2cBusModel& i2c() { return *m_i2c; }
    InputEventModel& keys() { return *m_keys; }
    FrameBufferModel& frameBuffer() { return *m_frameBuffer; }
    std::shared_ptr<GpioModel> gpioModel() const { return m_gpio; }

    // The door switch reads 1 while the door is closed.
    void setDoorClosed(bool closed);
    void setAuxInput(int level);
    // The home key pulls its line to 0 while held.
    void setHomeKeyPressed(bool pressed);

private:
    SimBoard m_board;
    std::shared_ptr<GpioModel> m_gpio;
    std::shared_ptr<StepperDriverModel> m_motor;
    std::shared_ptr<I2cBusModel> m_i2c;
    std::shared_ptr<DisplayControllerModel> m_display;
    std::shared_ptr<InputEventModel> m_keys;
    std::shared_ptr<FrameBufferModel> m_frameBuffer;
};

} // namespace sim
