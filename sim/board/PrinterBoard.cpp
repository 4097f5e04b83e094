#include "board/PrinterBoard.h"

namespace sim {

PrinterBoard::PrinterBoard(const AxisConfig& axis, const FrameBufferModel::Geometry& frame)
    : m_gpio(std::make_shared<GpioModel>()),
      m_motor(StepperDriverModel::create(m_gpio, axis)),
      m_i2c(std::make_shared<I2cBusModel>()),
      m_display(DisplayControllerModel::create(m_gpio, kProjectorPowerLine)),
      m_keys(std::make_shared<InputEventModel>()),
      m_frameBuffer(std::make_shared<FrameBufferModel>(frame))
{
    m_i2c->attachTarget(DisplayControllerModel::kAddress, m_display);
    m_board.attach(GpioModel::kPath, m_gpio);
    m_board.attach(StepperDriverModel::kPath, m_motor);
    m_board.attach(kI2cPath, m_i2c);
    m_board.attach(InputEventModel::kPath, m_keys);
    m_board.attach(FrameBufferModel::kPath, m_frameBuffer);
    setDoorClosed(true);
    setHomeKeyPressed(false);
    setAuxInput(0);
}

PrinterBoard::~PrinterBoard() = default;

void PrinterBoard::setDoorClosed(bool closed)
{
    m_gpio->drive(kDoorLine, closed ? 1 : 0);
}

void PrinterBoard::setAuxInput(int level)
{
    m_gpio->drive(kAuxLine, level);
}

void PrinterBoard::setHomeKeyPressed(bool pressed)
{
    m_gpio->drive(kHomeKeyLine, pressed ? 0 : 1);
}

} // namespace sim
