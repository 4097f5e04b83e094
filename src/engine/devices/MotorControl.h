#pragma once

#include "base/buses/Spi.h"
#include "base/config/MotorPara.h"
#include "base/threads/StopSignal.h"
#include "base/threads/noncopyable.h"
#include "engine/devices/Board.h"
#include "engine/devices/MotorUnits.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>

// The Z axis: a stepper motor behind a motion-controller chip on SPI that runs
// the ramps itself, a driver-enable output (GPIO 1, low enables) and a limit
// switch at the bottom of travel (GPIO 8, 0 while closed). Distances are
// millimetres up from the switch once homed; the chip counts microsteps.
//
// Results: 0 on success; a negative errno for failed register access;
// -ENODEV for any motion asked of a motor whose initialize() did not succeed;
// -EINVAL for distances, profiles or settings that are not usable numbers;
// -1 for a waited move that missed its target in 30 s or a homing switch that
// did not change; -ECANCELED for a wait that stop() ended.
//
// Threads: every register access is one locked transaction, so any thread
// may call stop() while another moves or homes. stop() wakes a waited move,
// a homing wait or a homing pause at once, and the waiter returns -ECANCELED.
// All waits run on machine time through the Clock seam.
class MotorControl : noncopyable
{
public:
    static constexpr const char* kDevice = board::kStepperSpi;
    static constexpr unsigned int kLimitLine = board::kZLimitLine;
    static constexpr unsigned int kEnableLine = board::kMotorEnableLine;
    static constexpr int kMoveTimeoutMs = 30000;
    static constexpr int kMovePollMs = 100;
    static constexpr int kSwitchWaitMs = 30000;
    static constexpr int kSwitchWaits = 3;

    // Chip registers.
    enum Register : uint8_t {
        RegConfig = 0x09,
        RegCurrents = 0x10,
        RegConfig2 = 0x11,
        RegMode = 0x20,
        RegActual = 0x21,
        RegStartVelocity = 0x23,
        RegStopVelocity = 0x2B,
        RegConfig3 = 0x2C,
        RegTarget = 0x2D,
        RegSwitchMode = 0x34,
        RegLatch = 0x36,
        RegChopper = 0x6C,
    };

    // Claims the limit line: exported, input, reporting falling edges.
    MotorControl();
    ~MotorControl();

    // Opens the SPI device and sets the chip up for a screw lead `pitch` (µm
    // per revolution) and `microSteps` per full step; before homing the axis
    // stands in the middle of twice the Z length. -1 or -2 when the device
    // cannot be opened or set up, -EINVAL for an unusable pitch, microstep
    // count or Z length, else the first failed write's -errno, or 0.
    int initialize(void* ignored, uint32_t pitch, uint32_t microSteps);
    bool isInitialized() const { return m_initialized.load(); }

    int setRamp(const MotorPara& profile);
    int setTwoStageRamp(const MotorPara& stageI, const MotorPara& stageII);

    // Absolute moves keep within 0 .. getMaxPosition(); relative moves stop
    // there too, and one below a microstep writes nothing and returns 0.
    // Waited: the result of waitMoveDone(). Not waited: the kept result of the
    // last waited move, unless writing the target failed.
    int move(float mm, bool wait, bool relative);
    int moveTo(int target);
    // 0 when the chip's actual position met its target, -1 after 30 s
    // without, -ECANCELED when stop() ended the move.
    int waitMoveDone();
    // Holds the axis where it stands (run current 0 until the next move).
    int stop();

    // The read's status byte (0-255) and the position, or a negative errno
    // (the position is left as it was).
    int getPosition(float* mm);
    float getMaxPosition();

    // Homes against the limit switch; a failed homing stops the axis before
    // it returns.
    int home();

    // A caller that must never start motion after it was told to stop takes
    // the stop count while it decides, then moves or homes "since" that count:
    // a stop() in between cancels the motion before the target is written.
    unsigned int stopGeneration() const { return m_stopGeneration.load(); }
    int moveWaitSince(float mm, bool relative, unsigned int generation);
    int homeSince(unsigned int generation);
    // Makes the current position 0 and the travel the Z length.
    int setHome();
    int readLimitSwitch();
    bool isLimitTriggered() const { return m_limitTriggered.load(); }

    int setCurrent(uint32_t hold, uint32_t run, uint32_t holdDelay);
    int setMicroStep(uint32_t microSteps);
    int setSwitchMode(bool on);
    void disableLocator(bool) {}
    void reloadPara() {}
    int mmToSteps(float mm) const;
    float stepsToMm(int steps) const;

    // Waits for the switch on a value-file descriptor to change from what it
    // reads 1 ms from now: 0 changed, -1 three 30 s waits without a change,
    // -ECANCELED stopped, another negative value for a failed wait or read.
    int waitChanged(int fd);

    int writeRegister(uint8_t address, const uint8_t data[4]);
    int writeRegister32(uint8_t address, uint32_t value);
    // The status byte (0-255), or a negative errno.
    int readRegisterRaw(uint8_t address, uint8_t data[4]);
    int readRegister32(uint8_t address, uint32_t* value);

private:
    int openDevice();
    int refuse(const char* operation) const;
    int writeRamp(const RampValues& values);
    int frame(const uint8_t tx[5], uint8_t rx[5]);
    int readActual(int32_t* actual);

    // Writes a target unless a stop came after `generation`.
    int moveToUnless(int target, unsigned int generation);
    int moveToLocked(int target);
    int moveFrom(float mm, bool wait, bool relative, unsigned int generation);
    int waitMoveDone(unsigned int generation);
    // Sleeps until a CLOCK_MONOTONIC instant; false when a stop came after `generation`.
    bool pauseUntil(const timespec& deadline, unsigned int generation);
    bool pauseMs(int ms, unsigned int generation);
    int sampleSwitch(int fd, int* value);
    int waitSwitchChange(int fd, int startValue, unsigned int generation);
    // Drives down by `distance` microsteps until the switch leaves `level`.
    int approachSwitch(int distance, int level, unsigned int generation);
    int failHoming(int error);

    HardwareInterface::Spi m_spi;
    uint8_t m_bitsPerWord = 8;
    uint32_t m_speedHz = 500000;
    std::atomic<int> m_maxUSC{0};
    uint32_t m_pitch = 0;
    uint32_t m_microSteps = 0;
    MotorUnits m_units;
    std::atomic<bool> m_limitTriggered{true};
    std::atomic<int> m_target{0};
    int m_limitFd = -1;
    std::atomic<bool> m_initialized{false};
    std::atomic<int> m_lastWaitResult{0};

    std::mutex m_ioMutex;   // one register transaction at a time
    std::mutex m_moveMutex; // target writes against stop()
    bool m_stopped = false; // run current lowered by stop(); guarded by m_moveMutex
    std::atomic<unsigned int> m_stopGeneration{0};
    unsigned int m_moveGeneration = 0; // stop generation of the last target; guarded by m_moveMutex
    // Raised by stop() with each new stop count: wakes the pauses and switch waits.
    StopSignal m_stopSignal;
};
