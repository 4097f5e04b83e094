#include "engine/devices/MotorControl.h"

#include "base/buses/Gpio.h"
#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const PrinterConfig& printerConfig()
{
    return ConfigStore::instance()->m_printerConfig;
}

timespec earlier(const timespec& a, const timespec& b)
{
    return timespecToNs(a) <= timespecToNs(b) ? a : b;
}

bool passed(const timespec& deadline)
{
    return timespecToNs(kernelMonotonicNow()) >= timespecToNs(deadline);
}

// (int)(mm × uscPerMM) in single precision, held inside the int range.
int toSteps(float mm, float uscPerMM)
{
    const double steps = static_cast<double>(mm * uscPerMM);
    return static_cast<int>(std::max<double>(INT_MIN, std::min<double>(INT_MAX, steps)));
}

} // namespace

MotorControl::MotorControl()
{
    gpio_export(kLimitLine);
    gpio_set_dir(kLimitLine, "in");
    gpio_set_edge(kLimitLine, "falling");
    m_limitFd = gpio_fd_open(kLimitLine);
    if (m_limitFd <= 0) {
        logger()->write(LogError, "%s, %d: %s", "MotorControl", __LINE__, strerror(-m_limitFd));
        m_limitFd = -1;
    }
}

MotorControl::~MotorControl()
{
    if (m_limitFd > 0)
        platform().io().close(m_limitFd);
    gpio_unexport(kLimitLine);
    m_spi.close();
}

int MotorControl::refuse(const char* operation) const
{
    logger()->write(LogError, "Motor Not Initialized: %s refused", operation);
    return -ENODEV;
}

int MotorControl::openDevice()
{
    using Step = HardwareInterface::Spi::OpenStep;
    Step failed = Step::None;
    if (m_spi.open(kDevice, SPI_MODE_0, m_bitsPerWord, m_speedHz, 0, &failed) != 0) {
        const char* error = strerror(errno);
        switch (failed) {
        case Step::Mode:
            logger()->write(LogError, "can't set spi mode: %s\n", error);
            return -2;
        case Step::BitsPerWord:
            logger()->write(LogError, "can't set bits per word (%s)", error);
            return -2;
        case Step::Speed:
            logger()->write(LogError, "can't set max speed hz (%s)", error);
            return -2;
        default:
            logger()->write(LogError, "Open Motor Dev Fail (%s)", error);
            return -1;
        }
    }
    logger()->write(LogInfo, "Motor Bits Per Word: %d", m_bitsPerWord);
    logger()->write(LogInfo, "Motor Max Speed: %d Hz (%d KHz)", static_cast<int>(m_speedHz),
                    static_cast<int>(m_speedHz / 1000));
    return 0;
}

int MotorControl::initialize(void*, uint32_t pitch, uint32_t microSteps)
{
    m_initialized = false;
    MotorUnits units;
    if (computeMotorUnits(pitch, microSteps, units) < 0) {
        logger()->write(LogError, "Invalid Motor Pitch (%u) Or Micro Step (%u)", pitch, microSteps);
        return -EINVAL;
    }
    const float zLength = printerConfig().ZLength;
    int maxUSC = 0;
    if (travelSteps(zLength + zLength, units.uscPerMM, maxUSC) < 0) {
        logger()->write(LogError, "Invalid Z Length (%f) For Motor Pitch (%u)", static_cast<double>(zLength), pitch);
        return -EINVAL;
    }
    m_pitch = pitch;
    m_microSteps = microSteps;
    const int opened = openDevice();
    if (opened != 0)
        return opened;

    puts("Initialize GPIO");
    gpio_export(kEnableLine);
    gpio_set_dir(kEnableLine, "out");
    gpio_set_value(kEnableLine, 0);
    // The driver wants the enable line settled before it is driven again.
    sleepUntil(nsToTimespec(timespecToNs(kernelMonotonicNow()) + 200000));
    gpio_set_value(kEnableLine, 0);

    int failure = 0;
    auto step = [&failure](int rc) {
        if (rc < 0 && failure == 0)
            failure = rc;
        return rc;
    };
    step(writeRegister32(RegChopper, 0x000100C5));
    step(writeRegister32(RegCurrents, 0x00060807));
    step(writeRegister32(RegConfig2, 0x10));
    step(writeRegister32(RegMode, 0));
    step(writeRegister32(RegActual, 0));
    step(writeRegister32(RegStartVelocity, 240));
    step(writeRegister32(RegStopVelocity, 10));
    step(writeRegister32(RegConfig3, 0));
    step(writeRegister32(RegTarget, 0));
    step(writeRegister32(RegSwitchMode, 0x35));
    step(writeRegister32(RegConfig, 0x00020D0D));
    step(setCurrent(16, 31, 24));
    step(setMicroStep(microSteps));

    m_units = units;
    m_maxUSC = maxUSC;
    step(writeRegister32(RegActual, static_cast<uint32_t>(maxUSC / 2)));
    step(writeRegister32(RegTarget, static_cast<uint32_t>(maxUSC / 2)));
    m_target = maxUSC / 2;
    step(writeRegister32(RegStartVelocity, static_cast<uint32_t>(m_units.vUnit * 100.0)));
    step(writeRegister32(RegStopVelocity, static_cast<uint32_t>(m_units.vUnit * 120.0)));

    printf("\n****Motor****\n");
    printf("Rotation_USC: %i, uscPerMM: %i, mmPerUSC: %f\n", static_cast<int>(200 * m_microSteps), m_units.uscPerMM,
           m_units.mmPerUSC);
    printf("Max USC: %i, pitch(%i) \n", maxUSC, static_cast<int>(m_pitch));
    printf("Unit conf: aUnit(%f), vUnit(%f)\n****Motor****\n\n", m_units.aUnit, m_units.vUnit);
    fflush(stdout);

    if (failure != 0) {
        logger()->write(LogError, "Motor Initialize Fail (%s)", strerror(-failure));
        return failure;
    }
    m_initialized = true;
    return 0;
}

int MotorControl::setCurrent(uint32_t hold, uint32_t run, uint32_t holdDelay)
{
    hold &= 31;
    run &= 31;
    holdDelay &= 15;
    logger()->write(LogInfo, " %s iHold:%02X, iRun:%02X, iholdDelay:%02X", "setCurrent", hold, run, holdDelay);
    return writeRegister32(RegCurrents, holdDelay << 16 | run << 8 | hold);
}

int MotorControl::setMicroStep(uint32_t microSteps)
{
    uint8_t data[4] = {};
    const int rc = readRegisterRaw(RegChopper, data);
    // The other bits of the register are written back as read: never guessed.
    if (rc < 0)
        return rc;
    uint8_t code = 0;
    switch (microSteps) {
    case 256: code = 0; break;
    case 128: code = 1; break;
    case 64: code = 2; break;
    case 32: code = 3; break;
    case 16: code = 4; break;
    case 8: code = 5; break;
    case 4: code = 6; break;
    case 2: code = 7; break;
    case 1: code = 8; break;
    default:
        puts("Micro Step Resolution Error !!!");
        code = 0;
        break;
    }
    logger()->write(LogInfo, "Set Motor Micro Step: %d", static_cast<int>(microSteps));
    data[0] = static_cast<uint8_t>((data[0] & 0xF0) | code);
    return writeRegister(RegChopper, data);
}

int MotorControl::setSwitchMode(bool on)
{
    puts(on ? "SW_MODE: 0x048A" : "SW_MODE: 0x008A");
    return writeRegister32(RegSwitchMode, on ? 0x48A : 0x8A);
}

int MotorControl::writeRamp(const RampValues& values)
{
    RampRegisters registers;
    if (rampRegisters(values, m_units, registers) < 0) {
        logger()->write(LogError, "Motor Ramp Out Of Range: %f, %f, %f, %f, %f, %f", values[0], values[1], values[2],
                        values[3], values[4], values[5]);
        return -EINVAL;
    }
    int rc = 0;
    for (size_t i = 0; i < registers.size(); ++i)
        rc = writeRegister32(kRampRegisterAddresses[i], registers[i]);
    return rc;
}

int MotorControl::setRamp(const MotorPara& profile)
{
    if (!m_initialized)
        return refuse("setRamp");
    RampValues values;
    if (oneStageRamp(profile, values) < 0) {
        logger()->write(LogError, "Invalid Motor Ramp: A(%f), D(%f), V(%f)", static_cast<double>(profile.A),
                        static_cast<double>(profile.D), static_cast<double>(profile.V));
        return -EINVAL;
    }
    return writeRamp(values);
}

int MotorControl::setTwoStageRamp(const MotorPara& stageI, const MotorPara& stageII)
{
    if (!m_initialized)
        return refuse("setTwoStageRamp");
    RampValues values;
    if (twoStageRamp(stageI, stageII, values) < 0) {
        logger()->write(LogError, "Invalid Motor Ramps: I(%f, %f, %f, %f), II(%f, %f, %f, %f)", static_cast<double>(stageI.A),
                        static_cast<double>(stageI.D), static_cast<double>(stageI.V), static_cast<double>(stageI.X),
                        static_cast<double>(stageII.A), static_cast<double>(stageII.D),
                        static_cast<double>(stageII.V), static_cast<double>(stageII.X));
        return -EINVAL;
    }
    return writeRamp(values);
}

int MotorControl::moveToLocked(int target)
{
    if (m_stopped) {
        const int rc = setCurrent(16, 31, 24);
        if (rc < 0)
            return rc; // the motor would not turn: stay stopped
        m_stopped = false;
    }
    m_target = target;
    logger()->write(LogInfo, "Motor Move: Value[%d] is written to reg[0x2D]", target);
    m_moveGeneration = stopGeneration();
    return writeRegister32(RegTarget, static_cast<uint32_t>(target));
}

int MotorControl::moveTo(int target)
{
    if (!m_initialized)
        return refuse("moveTo");
    std::lock_guard<std::mutex> lock(m_moveMutex);
    return moveToLocked(target);
}

int MotorControl::moveToUnless(int target, unsigned int generation)
{
    std::lock_guard<std::mutex> lock(m_moveMutex);
    if (stopGeneration() != generation)
        return -ECANCELED;
    return moveToLocked(target);
}

int MotorControl::move(float mm, bool wait, bool relative)
{
    if (!m_initialized)
        return refuse("move");
    return moveFrom(mm, wait, relative, stopGeneration());
}

int MotorControl::moveWaitSince(float mm, bool relative, unsigned int generation)
{
    if (!m_initialized)
        return refuse("move");
    return moveFrom(mm, true, relative, generation);
}

int MotorControl::moveFrom(float mm, bool wait, bool relative, unsigned int generation)
{
    if (!std::isfinite(mm)) {
        logger()->write(LogError, "Motor Move: invalid distance (%f)", static_cast<double>(mm));
        return -EINVAL;
    }
    const float travel = getMaxPosition();
    const float usc = static_cast<float>(m_units.uscPerMM);
    const int limit = toSteps(travel, usc);
    int64_t target = 0;
    if (relative) {
        // Past twice the travel every move ends at a limit anyway; the bound keeps the cast defined.
        const float bounded = std::max(-2 * travel, std::min(2 * travel, mm));
        const int steps = toSteps(bounded, usc);
        if (steps == 0)
            return 0;
        int32_t actual = 0;
        const int rc = readActual(&actual);
        if (rc < 0)
            return rc;
        target = std::min<int64_t>(std::max<int64_t>(int64_t(actual) + steps, 0), limit);
    } else {
        const float bounded = std::max(0.0f, std::min(travel, mm));
        target = toSteps(bounded, usc);
    }
    const int written = moveToUnless(static_cast<int>(target), generation);
    if (written < 0)
        return written;
    if (!wait)
        return m_lastWaitResult.load();
    const int result = waitMoveDone(generation);
    m_lastWaitResult = result;
    return result;
}

int MotorControl::waitMoveDone()
{
    if (!m_initialized)
        return refuse("waitMoveDone");
    unsigned int generation;
    {
        std::lock_guard<std::mutex> lock(m_moveMutex);
        generation = m_moveGeneration;
    }
    return waitMoveDone(generation);
}

int MotorControl::waitMoveDone(unsigned int generation)
{
    const timespec deadline = platform().clock().deadlineAfterMs(kMoveTimeoutMs);
    bool known = false;
    uint32_t target = 0, actual = 0;
    for (;;) {
        if (!pauseUntil(earlier(platform().clock().deadlineAfterMs(kMovePollMs), deadline), generation)) {
            logger()->write(LogInfo, "Motor Move Stopped");
            return -ECANCELED;
        }
        // Taken before the read, so that the verdict comes from a read made
        // after the deadline: a wait held back past it (a busy host, a fast
        // machine clock) still sees a move that ended in time.
        const bool late = passed(deadline);
        // A failed read says nothing about the position: poll again.
        uint32_t t = 0, a = 0;
        if (readRegister32(RegTarget, &t) >= 0 && readRegister32(RegActual, &a) >= 0) {
            known = true;
            target = t;
            actual = a;
            if (t == a)
                return 0;
        }
        if (late)
            break;
    }
    if (known)
        logger()->write(LogError, "reg[0x2D] = %d(target), reg[0x21] = %d(actual)", static_cast<int32_t>(target),
                        static_cast<int32_t>(actual));
    else
        logger()->write(LogError, "Motor Move Timeout: position unreadable");
    return -1;
}

int MotorControl::stop()
{
    puts("MotorControl::stop");
    if (!m_initialized)
        return refuse("stop");
    std::lock_guard<std::mutex> lock(m_moveMutex);
    m_stopGeneration.fetch_add(1);
    m_stopSignal.raise();
    m_stopped = true;
    int rc = setCurrent(16, 0, 0);
    int32_t actual = 0;
    const int read = readActual(&actual);
    // Without a known position no target is written; the run current of 0 holds the axis.
    if (read < 0)
        return read;
    const uint32_t position = static_cast<uint32_t>(actual);
    for (uint8_t address : {RegTarget, RegActual, RegTarget}) {
        const int written = writeRegister32(address, position);
        if (written < 0 && rc >= 0)
            rc = written;
    }
    m_target = actual;
    return rc < 0 ? rc : 0;
}

int MotorControl::readActual(int32_t* actual)
{
    uint32_t value = 0;
    const int rc = readRegister32(RegActual, &value);
    if (rc >= 0)
        *actual = static_cast<int32_t>(value);
    return rc;
}

int MotorControl::getPosition(float* mm)
{
    if (!m_initialized)
        return refuse("getPosition");
    int32_t actual = 0;
    const int rc = readActual(&actual);
    if (rc >= 0)
        *mm = static_cast<float>(actual * m_units.mmPerUSC);
    return rc;
}

float MotorControl::getMaxPosition()
{
    float zLength = printerConfig().ZLength;
    if (!std::isfinite(zLength))
        zLength = 0;
    const float own = static_cast<float>(m_maxUSC.load() * m_units.mmPerUSC);
    return std::max(zLength, own);
}

int MotorControl::setHome()
{
    if (!m_initialized)
        return refuse("setHome");
    int maxUSC = 0;
    if (travelSteps(printerConfig().ZLength, m_units.uscPerMM, maxUSC) == 0)
        m_maxUSC = maxUSC;
    else
        logger()->write(LogError, "Invalid Z Length (%f): travel kept", static_cast<double>(printerConfig().ZLength));
    std::lock_guard<std::mutex> lock(m_moveMutex);
    const int actual = writeRegister32(RegActual, 0);
    const int target = writeRegister32(RegTarget, 0);
    m_target = 0;
    // A position that was not set to 0 is no home, whatever the second write did.
    return actual < 0 ? actual : target;
}

int MotorControl::readLimitSwitch()
{
    unsigned int value = 1;
    const int rc = gpio_get_value(kLimitLine, &value);
    if (rc < 0)
        return rc;
    m_limitTriggered = value == 0;
    return 0;
}

int MotorControl::mmToSteps(float mm) const
{
    const double steps = static_cast<double>(mm) * m_units.uscPerMM;
    if (!std::isfinite(steps))
        return 0;
    return static_cast<int>(std::max<double>(INT_MIN, std::min<double>(INT_MAX, steps)));
}

float MotorControl::stepsToMm(int steps) const
{
    return static_cast<float>(steps * m_units.mmPerUSC);
}
