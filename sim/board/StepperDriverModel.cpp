#include "board/StepperDriverModel.h"

#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

namespace sim {

namespace {

constexpr int64_t kStepNs = 1000000; // motion is integrated in 1 ms steps of machine time
constexpr double kStepSeconds = 1e-3;
// A catch-up longer than this (a clock swapped under a running model) jumps
// instead of stepping through every millisecond.
constexpr int64_t kMaxCatchUpNs = int64_t(3600) * 1000000000;
constexpr uint32_t kStopOnSwitch = 1u << 0;
constexpr uint32_t kLatchOnSwitch = 1u << 5;

int64_t machineNowNs()
{
    return timespecToNs(platform().clock().now());
}

} // namespace

StepperDriverModel::StepperDriverModel(std::shared_ptr<GpioModel> gpio, const AxisConfig& axis)
    : m_gpio(std::move(gpio)),
      m_axis(axis),
      m_physicalMm(axis.startMm),
      m_simNs(machineNowNs()),
      m_thread([this] {
          run();
          return nullptr;
      })
{
    syncSwitchLine();
    if (m_thread.start(false, PThread::defaultStackSize()) != 0)
        throw std::runtime_error("stepper driver model: no thread");
}

StepperDriverModel::~StepperDriverModel()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

double StepperDriverModel::physicalMm() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_physicalMm;
}

int32_t StepperDriverModel::actualPosition() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int32_t>(readLocked(Actual));
}

int32_t StepperDriverModel::targetPosition() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int32_t>(m_registers[Target]);
}

uint32_t StepperDriverModel::registerValue(uint8_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return readLocked(address & 0x7F);
}

unsigned int StepperDriverModel::microsteps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const unsigned int code = (m_registers[Chopper] >> 24) & 0xF;
    return code <= 8 ? 256u >> code : 256u;
}

double StepperDriverModel::velocity() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_velocity;
}

bool StepperDriverModel::isMoving() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return activeLocked();
}

bool StepperDriverModel::switchClosed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return physicalSwitchClosedLocked();
}

bool StepperDriverModel::waitForStandstill(int timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (isMoving()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

double StepperDriverModel::lastMotionSeconds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_motionEndNs >= m_motionStartNs ? (m_motionEndNs - m_motionStartNs) / 1e9 : -1;
}

int64_t StepperDriverModel::motionNs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_movedNs;
}

void StepperDriverModel::placeAxis(double mm)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        advanceLocked(machineNowNs());
        m_physicalMm = std::min(std::max(mm, m_axis.lowerStopMm), m_axis.upperStopMm);
    }
    syncSwitchLine();
    wake();
}

void StepperDriverModel::setStall(bool stalled)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        advanceLocked(machineNowNs());
        m_stalled = stalled;
        if (stalled)
            m_velocity = 0;
    }
    wake();
}

void StepperDriverModel::setSwitchFault(SwitchFault fault)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        advanceLocked(machineNowNs());
        m_switchFault = fault;
    }
    syncSwitchLine();
    wake();
}

int StepperDriverModel::exchange(const spi_ioc_transfer& transfer, const uint8_t* tx, uint8_t* rx)
{
    if (transfer.len != 5)
        return 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        advanceLocked(machineNowNs());
        rx[0] = statusLocked();
        rx[1] = static_cast<uint8_t>(m_pipeline >> 24);
        rx[2] = static_cast<uint8_t>(m_pipeline >> 16);
        rx[3] = static_cast<uint8_t>(m_pipeline >> 8);
        rx[4] = static_cast<uint8_t>(m_pipeline);
        const uint8_t address = tx[0] & 0x7F;
        if (tx[0] & 0x80) {
            const uint32_t value = uint32_t(tx[1]) << 24 | uint32_t(tx[2]) << 16 | uint32_t(tx[3]) << 8 | tx[4];
            const bool wasActive = activeLocked();
            writeLocked(address, value);
            if (!wasActive && activeLocked())
                m_motionStartNs = m_simNs;
            m_pipeline = value;
        } else {
            m_pipeline = readLocked(address);
        }
    }
    syncSwitchLine();
    wake();
    return 0;
}

void StepperDriverModel::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        advanceLocked(machineNowNs());
        const bool active = activeLocked();
        lock.unlock();
        syncSwitchLine();
        lock.lock();
        if (m_quit)
            break;
        // Real time between looks: the motion itself is stepped on machine time.
        // Idle, it sleeps until a change under the lock makes the axis move.
        if (active)
            m_wake.wait_for(lock, std::chrono::milliseconds(1));
        else
            m_wake.wait(lock, [this] { return m_quit || activeLocked(); });
    }
}

void StepperDriverModel::wake()
{
    m_wake.notify_all();
}

void StepperDriverModel::advanceLocked(int64_t nowNs)
{
    if (nowNs <= m_simNs)
        return;
    if (!activeLocked() || nowNs - m_simNs > kMaxCatchUpNs) {
        m_simNs = nowNs;
        return;
    }
    while (m_simNs + kStepNs <= nowNs) {
        stepLocked(kStepSeconds);
        m_simNs += kStepNs;
        m_movedNs += kStepNs;
        if (!activeLocked()) {
            m_motionEndNs = m_simNs;
            m_simNs = nowNs;
            return;
        }
    }
}

bool StepperDriverModel::heldLocked() const
{
    const uint32_t runCurrent = (m_registers[Currents] >> 8) & 0x1F;
    return m_registers[Mode] != 0 || m_stalled || runCurrent == 0 || m_registers[MaxVelocity] == 0;
}

bool StepperDriverModel::activeLocked() const
{
    if (heldLocked())
        return false;
    const double distance = static_cast<int32_t>(m_registers[Target]) - m_position;
    if (distance < 0 && (m_registers[SwitchMode] & kStopOnSwitch) && sensedSwitchClosedLocked())
        return false;
    return m_velocity != 0 || std::fabs(distance) >= 0.5;
}

double StepperDriverModel::brakingDistanceLocked(double speed) const
{
    const double v1 = m_registers[SwitchVelocity] * kVelocityUnit;
    const double vStop = m_registers[StopVelocity] * kVelocityUnit;
    const double dMax = m_registers[MaxDeceleration] * kAccelerationUnit;
    const double d1 = m_registers[FinalDeceleration] * kAccelerationUnit;
    auto stage = [](double from, double to, double deceleration) {
        return from > to && deceleration > 0 ? (from * from - to * to) / (2 * deceleration) : 0.0;
    };
    if (v1 > 0 && d1 > 0) {
        if (speed > v1)
            return stage(speed, v1, dMax) + stage(v1, vStop, d1);
        return stage(speed, vStop, d1);
    }
    return stage(speed, vStop, dMax);
}

void StepperDriverModel::stepLocked(double dt)
{
    if (heldLocked()) {
        m_velocity = 0;
        return;
    }
    const double vStart = m_registers[StartVelocity] * kVelocityUnit;
    const double v1 = m_registers[SwitchVelocity] * kVelocityUnit;
    const double vMax = m_registers[MaxVelocity] * kVelocityUnit;
    const double vStop = m_registers[StopVelocity] * kVelocityUnit;
    const double a1 = m_registers[FirstAcceleration] * kAccelerationUnit;
    const double aMax = m_registers[MaxAcceleration] * kAccelerationUnit;
    const double dMax = m_registers[MaxDeceleration] * kAccelerationUnit;
    const double d1 = m_registers[FinalDeceleration] * kAccelerationUnit;

    const double distance = static_cast<int32_t>(m_registers[Target]) - m_position;
    if (std::fabs(distance) < 0.5) {
        moveAxisLocked(distance);
        m_velocity = 0;
        return;
    }
    const double direction = distance > 0 ? 1.0 : -1.0;
    if (direction < 0 && (m_registers[SwitchMode] & kStopOnSwitch) && sensedSwitchClosedLocked()) {
        m_velocity = 0;
        return;
    }
    const bool slowStage = v1 > 0;
    double speed = std::fabs(m_velocity);
    const double deceleration = slowStage && speed <= v1 && d1 > 0 ? d1 : dMax;

    if (m_velocity * direction < 0) {
        // Moving away from a new target: brake to a stand first.
        speed = std::max(0.0, speed - deceleration * dt);
        if (speed <= vStop)
            speed = 0;
        m_velocity = -direction * speed;
        moveAxisLocked(m_velocity * dt);
        return;
    }
    if (speed == 0)
        speed = std::min(vStart, vMax);
    if (std::fabs(distance) <= brakingDistanceLocked(speed) + speed * dt) {
        // Never below the stop velocity, nor to a stand short of the target.
        speed = std::max(std::max(vStop, 1.0), speed - deceleration * dt);
    } else {
        const double acceleration = slowStage && speed < v1 && a1 > 0 ? a1 : aMax;
        speed = std::min(vMax, speed + acceleration * dt);
    }
    if (speed <= 0) {
        m_velocity = 0;
        return;
    }
    const double travel = speed * dt;
    if (travel >= std::fabs(distance)) {
        moveAxisLocked(distance);
        m_velocity = 0;
    } else {
        moveAxisLocked(direction * travel);
        m_velocity = direction * speed;
    }
    if (sensedSwitchClosedLocked() && m_velocity < 0 && (m_registers[SwitchMode] & kStopOnSwitch))
        m_velocity = 0;
}

void StepperDriverModel::moveAxisLocked(double microsteps)
{
    const bool wasClosed = sensedSwitchClosedLocked();
    m_position += microsteps;
    // The plate stops at the hard ends; the chip counts on (lost steps).
    m_physicalMm = std::min(std::max(m_physicalMm + microsteps * mmPerMicrostepLocked(), m_axis.lowerStopMm),
                            m_axis.upperStopMm);
    if (!wasClosed && sensedSwitchClosedLocked() && (m_registers[SwitchMode] & kLatchOnSwitch))
        m_latched = static_cast<uint32_t>(static_cast<int32_t>(std::lround(m_position)));
}

double StepperDriverModel::mmPerMicrostepLocked() const
{
    const unsigned int code = (m_registers[Chopper] >> 24) & 0xF;
    const unsigned int micro = code <= 8 ? 256u >> code : 256u;
    return m_axis.pitchUm / 1000.0 / (static_cast<double>(m_axis.fullStepsPerRevolution) * micro);
}

bool StepperDriverModel::physicalSwitchClosedLocked() const
{
    return m_physicalMm <= m_axis.switchMm;
}

bool StepperDriverModel::sensedSwitchClosedLocked() const
{
    if (m_switchFault == SwitchFault::StuckOpen)
        return false;
    if (m_switchFault == SwitchFault::StuckClosed)
        return true;
    return physicalSwitchClosedLocked();
}

void StepperDriverModel::writeLocked(uint8_t address, uint32_t value)
{
    switch (address) {
    case Actual:
        m_position = static_cast<int32_t>(value);
        break;
    case Latch:
        break; // read-only
    case Mode:
        m_registers[Mode] = value;
        if (value != 0)
            m_velocity = 0;
        break;
    default:
        m_registers[address] = value;
        break;
    }
}

uint32_t StepperDriverModel::readLocked(uint8_t address) const
{
    if (address == Actual)
        return static_cast<uint32_t>(static_cast<int32_t>(std::lround(m_position)));
    if (address == Latch)
        return m_latched;
    return m_registers[address];
}

uint8_t StepperDriverModel::statusLocked() const
{
    uint8_t status = 0;
    if (m_stalled)
        status |= kStatusStall;
    if (m_velocity == 0)
        status |= kStatusStandstill;
    if (std::fabs(static_cast<int32_t>(m_registers[Target]) - m_position) < 0.5)
        status |= kStatusPositionReached;
    if (sensedSwitchClosedLocked())
        status |= kStatusSwitchClosed;
    return status;
}

void StepperDriverModel::syncSwitchLine()
{
    std::lock_guard<std::mutex> lineLock(m_lineMutex);
    int level;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        level = sensedSwitchClosedLocked() ? 0 : 1;
    }
    if (level != m_lineLevel) {
        m_gpio->drive(m_axis.limitLine, level);
        m_lineLevel = level;
    }
}

} // namespace sim
