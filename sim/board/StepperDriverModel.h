#pragma once

#include "base/threads/FunctionThread.h"
#include "board/GpioModel.h"
#include "board/SpiDeviceModel.h"
#include "board/StepperRamp.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace sim {

// Where the Z axis's mechanics sit. Millimetres are measured up from the
// reference (limit) switch.
struct AxisConfig
{
    double pitchUm = 2000;           // lead of the screw per revolution
    int fullStepsPerRevolution = 200;
    double switchMm = 0;             // the switch is closed at and below this height
    double lowerStopMm = -2;         // hard end below the switch: the plate goes no lower
    double upperStopMm = 160;        // hard end at the top
    double startMm = 75;             // where the plate stands at power-up
    unsigned int limitLine = 8;      // GPIO line the switch drives: 0 closed, 1 open
};

// The stepper motion controller and driver of the Z axis on "/dev/spidev0.0",
// with the axis it turns.
//
// Frames are 5 bytes: an address byte (bit 7 set for a write) and a 32-bit
// value, most significant byte first. Every reply is a status byte and the
// value latched by the previous frame: the register a read frame addressed
// (read when that frame came), or the value a write frame stored. Frames of
// another length are answered with zeros and change nothing.
//
// Motion: in positioning mode (register 0x20 = 0) the chip drives its actual
// position (0x21) to the target (0x2D) along a ramp: it starts at the start
// velocity (0x23), accelerates with 0x24 up to the switch velocity (0x25),
// then with 0x26 up to the maximum velocity (0x27); it decelerates with 0x28
// down to the switch velocity, then with 0x2A down to the stop velocity
// (0x2B), at which it reaches the target. A switch velocity of 0 leaves out
// the first and final stages. Velocities are in units of kVelocityUnit
// microsteps/s, accelerations of kAccelerationUnit microsteps/s². Any other
// mode holds the axis still, as do a run current of 0 (register 0x10 bits
// 8-12) and a stall. The microstep resolution is 256 >> the code in bits 24-27
// of register 0x6C. With bit 0 of the switch mode (0x34) set, the chip stops
// a downward motion when the reference switch closes; with bit 5 set it
// latches its actual position into 0x36 when the switch closes.
//
// Time is machine time (the installed Clock). The ramp is worked out in
// closed form (StepperRamp), and every look (a frame, a read or poll of the
// switch's line, any accessor below) brings the axis to the machine time of
// that look at once, so the motion keeps machine time at any clock speed and
// however late a look comes. The model's own thread sleeps until the machine
// instant the switch next changes and drives the line then, so a wait on its
// edge ends when the plate reaches the switch. Keep the clock installed until
// the model is gone.
//
// Faults: a stall (the axis and the chip's count freeze until cleared), a
// switch stuck open or closed, and, through the board's FaultInjector, SPI
// errors on "/dev/spidev0.0".
class StepperDriverModel : public SpiDeviceModel
{
public:
    static constexpr const char* kPath = "/dev/spidev0.0";
    static constexpr double kVelocityUnit = 0.7748603820800781;   // microsteps/s per register unit
    static constexpr double kAccelerationUnit = 76.85230255126953; // microsteps/s² per register unit

    enum Register : uint8_t {
        Currents = 0x10,
        Mode = 0x20,
        Actual = 0x21,
        StartVelocity = 0x23,
        FirstAcceleration = 0x24,
        SwitchVelocity = 0x25,
        MaxAcceleration = 0x26,
        MaxVelocity = 0x27,
        MaxDeceleration = 0x28,
        FinalDeceleration = 0x2A,
        StopVelocity = 0x2B,
        Target = 0x2D,
        SwitchMode = 0x34,
        Latch = 0x36,
        Chopper = 0x6C,
    };

    // Status byte bits.
    static constexpr uint8_t kStatusStall = 0x04;
    static constexpr uint8_t kStatusStandstill = 0x08;
    static constexpr uint8_t kStatusPositionReached = 0x20;
    static constexpr uint8_t kStatusSwitchClosed = 0x40;

    enum class SwitchFault { None, StuckOpen, StuckClosed };

    // Made through here so that the line can ask the model for the switch.
    static std::shared_ptr<StepperDriverModel> create(std::shared_ptr<GpioModel> gpio,
                                                      const AxisConfig& axis = AxisConfig());
    ~StepperDriverModel() override;

    // What the axis shows now; each brings it to the machine time first.
    // The plate's height above the switch, mm.
    double physicalMm();
    int32_t actualPosition();
    int32_t targetPosition() const;
    uint32_t registerValue(uint8_t address);
    unsigned int microsteps() const;
    // Microsteps per second, signed (up is positive).
    double velocity();
    // The axis is on its way to a target it can reach (not held, stalled or stopped at the switch).
    bool isMoving();
    // The switch as the mechanics close it (a stuck switch tells the chip and the line otherwise).
    bool switchClosed();
    const AxisConfig& axis() const { return m_axis; }

    // Waits in real time until the axis stands; false when it still moves after timeoutMs.
    bool waitForStandstill(int timeoutMs);
    // Machine seconds from the start of the last motion to its end (as the
    // chip moved it, however late anyone looked); -1 while it runs.
    double lastMotionSeconds();
    // Machine time the axis has spent in motion since the model was made,
    // counted as the chip moved it (however late anyone looked).
    int64_t motionNs();

    // Puts the plate at a height, as a hand would with the motor off.
    void placeAxis(double mm);
    void setStall(bool stalled);
    void setSwitchFault(SwitchFault fault);

protected:
    int exchange(const spi_ioc_transfer& transfer, const uint8_t* tx, uint8_t* rx) override;

private:
    StepperDriverModel(std::shared_ptr<GpioModel> gpio, const AxisConfig& axis);
    void run();
    // Brings the axis to a machine time; never back.
    void advanceLocked(int64_t nowNs);
    // The machine time at which the sensed switch next changes if nothing
    // else does; -1 when it does not.
    int64_t nextSwitchChangeLocked() const;
    StepperRamp rampLocked() const;
    bool activeLocked() const;
    bool heldLocked() const;
    void writeLocked(uint8_t address, uint32_t value);
    uint32_t readLocked(uint8_t address) const;
    uint8_t statusLocked() const;
    double mmPerMicrostepLocked() const;
    bool physicalSwitchClosedLocked() const;
    // What the chip and the line see: the mechanics, unless the switch is stuck.
    bool sensedSwitchClosedLocked() const;
    // Brings the axis to now and drives the limit line to what the switch shows then.
    void bringLineUpToDate();
    // Drives the limit line to what the switch shows now.
    void syncSwitchLine();
    void wake();

    const std::shared_ptr<GpioModel> m_gpio;
    const AxisConfig m_axis;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::array<uint32_t, 128> m_registers{};
    AxisState m_state; // the chip's count and velocity, the plate's height
    uint32_t m_latched = 0;
    uint32_t m_pipeline = 0; // value the next reply carries
    int64_t m_simNs;         // machine time the motion has reached
    int64_t m_motionStartNs = 0;
    int64_t m_motionEndNs = 0;
    int64_t m_movedNs = 0; // all motion so far
    bool m_stalled = false;
    SwitchFault m_switchFault = SwitchFault::None;
    bool m_quit = false;

    std::mutex m_lineMutex; // orders the line changes
    int m_lineLevel = -1;   // what the limit line was last driven to

    FunctionThread m_thread;
};

} // namespace sim
