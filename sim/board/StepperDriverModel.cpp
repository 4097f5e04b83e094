#include "board/StepperDriverModel.h"

#include "base/platform/Clock.h"
#include "base/platform/Platform.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

namespace sim {

namespace {

constexpr uint32_t kStopOnSwitch = 1u << 0;
constexpr uint32_t kLatchOnSwitch = 1u << 5;
// Stretches of the ramp one advance or one look ahead goes through at most:
// a motion has a handful; the rest waits for the next look.
constexpr int kMaxSegments = 256;
// The longest real-time sleep of the model's thread while a switch change
// lies ahead: a clock swapped under a running model is seen this soon.
constexpr int64_t kMaxSleepNs = 50 * 1000000;

int64_t machineNowNs()
{
    return timespecToNs(platform().clock().now());
}

// A stretch's length in nanoseconds; INT64_MAX for one that lasts beyond any look.
int64_t lengthNs(double seconds)
{
    return seconds < 1e9 ? std::llround(seconds * 1e9) : std::numeric_limits<int64_t>::max();
}

} // namespace

std::shared_ptr<StepperDriverModel> StepperDriverModel::create(std::shared_ptr<GpioModel> gpio, const AxisConfig& axis)
{
    std::shared_ptr<StepperDriverModel> model(new StepperDriverModel(std::move(gpio), axis));
    std::weak_ptr<StepperDriverModel> weak = model;
    model->m_gpio->setLineSource(axis.limitLine, [weak] {
        if (auto self = weak.lock())
            self->bringLineUpToDate();
    });
    return model;
}

StepperDriverModel::StepperDriverModel(std::shared_ptr<GpioModel> gpio, const AxisConfig& axis)
    : m_gpio(std::move(gpio)),
      m_axis(axis),
      m_simNs(machineNowNs()),
      m_thread([this] {
          run();
          return nullptr;
      })
{
    m_state.plateMm = axis.startMm;
    syncSwitchLine();
    if (m_thread.start(false, PThread::defaultStackSize()) != 0)
        throw std::runtime_error("stepper driver model: no thread");
}

StepperDriverModel::~StepperDriverModel()
{
    m_gpio->setLineSource(m_axis.limitLine, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

double StepperDriverModel::physicalMm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return m_state.plateMm;
}

int32_t StepperDriverModel::actualPosition()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return static_cast<int32_t>(readLocked(Actual));
}

int32_t StepperDriverModel::targetPosition() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int32_t>(m_registers[Target]);
}

uint32_t StepperDriverModel::registerValue(uint8_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return readLocked(address & 0x7F);
}

unsigned int StepperDriverModel::microsteps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const unsigned int code = (m_registers[Chopper] >> 24) & 0xF;
    return code <= 8 ? 256u >> code : 256u;
}

double StepperDriverModel::velocity()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return m_state.velocity;
}

bool StepperDriverModel::isMoving()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return activeLocked();
}

bool StepperDriverModel::switchClosed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return physicalSwitchClosedLocked();
}

bool StepperDriverModel::waitForStandstill(int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (isMoving()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

double StepperDriverModel::lastMotionSeconds()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return m_motionEndNs >= m_motionStartNs ? (m_motionEndNs - m_motionStartNs) / 1e9 : -1;
}

int64_t StepperDriverModel::motionNs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    advanceLocked(machineNowNs());
    return m_movedNs;
}

void StepperDriverModel::placeAxis(double mm)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        advanceLocked(machineNowNs());
        m_state.plateMm = std::min(std::max(mm, m_axis.lowerStopMm), m_axis.upperStopMm);
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
            m_state.velocity = 0;
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
        lock.unlock();
        syncSwitchLine();
        lock.lock();
        if (m_quit)
            break;
        // Asleep until the machine instant the switch changes, or until a
        // change under the lock (a frame, a fault) wakes it to look again.
        const int64_t changeNs = nextSwitchChangeLocked();
        if (changeNs < 0) {
            m_wake.wait(lock);
            continue;
        }
        const int64_t machineMs = std::max<int64_t>(1, (changeNs - machineNowNs() + 999999) / 1000000);
        const int64_t realNs =
            timespecToNs(platform().clock().deadlineAfterMs(machineMs)) - timespecToNs(kernelMonotonicNow());
        m_wake.wait_for(lock, std::chrono::nanoseconds(std::min(std::max<int64_t>(realNs, 0), kMaxSleepNs)));
    }
}

void StepperDriverModel::wake()
{
    m_wake.notify_all();
}

void StepperDriverModel::bringLineUpToDate()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        advanceLocked(machineNowNs());
    }
    syncSwitchLine();
}

StepperRamp StepperDriverModel::rampLocked() const
{
    RampSettings settings;
    settings.startVelocity = m_registers[StartVelocity] * kVelocityUnit;
    settings.firstAcceleration = m_registers[FirstAcceleration] * kAccelerationUnit;
    settings.switchVelocity = m_registers[SwitchVelocity] * kVelocityUnit;
    settings.maxAcceleration = m_registers[MaxAcceleration] * kAccelerationUnit;
    settings.maxVelocity = m_registers[MaxVelocity] * kVelocityUnit;
    settings.maxDeceleration = m_registers[MaxDeceleration] * kAccelerationUnit;
    settings.finalDeceleration = m_registers[FinalDeceleration] * kAccelerationUnit;
    settings.stopVelocity = m_registers[StopVelocity] * kVelocityUnit;
    settings.target = static_cast<int32_t>(m_registers[Target]);
    settings.held = heldLocked();
    settings.stopOnSwitch = (m_registers[SwitchMode] & kStopOnSwitch) != 0;
    RampAxis axis;
    axis.mmPerMicrostep = mmPerMicrostepLocked();
    axis.switchMm = m_axis.switchMm;
    axis.lowerStopMm = m_axis.lowerStopMm;
    axis.upperStopMm = m_axis.upperStopMm;
    axis.sense = m_switchFault == SwitchFault::StuckOpen     ? RampAxis::Sense::StuckOpen
                 : m_switchFault == SwitchFault::StuckClosed ? RampAxis::Sense::StuckClosed
                                                             : RampAxis::Sense::Mechanics;
    return StepperRamp(settings, axis);
}

void StepperDriverModel::advanceLocked(int64_t nowNs)
{
    const StepperRamp ramp = rampLocked();
    for (int i = 0; i < kMaxSegments && m_simNs < nowNs && ramp.isActive(m_state); ++i) {
        const RampSegment segment = ramp.next(m_state);
        const int64_t leftNs = nowNs - m_simNs;
        const int64_t length = lengthNs(segment.seconds);
        if (length > leftNs) {
            m_state = ramp.at(segment, leftNs / 1e9);
            m_simNs = nowNs;
            m_movedNs += leftNs;
            return;
        }
        const bool wasClosed = ramp.switchSensed(m_state);
        m_state = ramp.at(segment, segment.seconds);
        m_simNs += length;
        m_movedNs += length;
        if (!wasClosed && ramp.switchSensed(m_state) && (m_registers[SwitchMode] & kLatchOnSwitch))
            m_latched = static_cast<uint32_t>(static_cast<int32_t>(std::lround(m_state.position)));
        if (!ramp.isActive(m_state))
            m_motionEndNs = m_simNs;
    }
    // Standing, the machine clock runs on; a motion cut off above goes on at the next look.
    if (!ramp.isActive(m_state))
        m_simNs = std::max(m_simNs, nowNs);
}

int64_t StepperDriverModel::nextSwitchChangeLocked() const
{
    const StepperRamp ramp = rampLocked();
    AxisState state = m_state;
    int64_t ns = m_simNs;
    const bool closed = ramp.switchSensed(state);
    for (int i = 0; i < kMaxSegments && ramp.isActive(state); ++i) {
        const RampSegment segment = ramp.next(state);
        const int64_t length = lengthNs(segment.seconds);
        if (length == std::numeric_limits<int64_t>::max())
            return -1;
        state = ramp.at(segment, segment.seconds);
        ns += length;
        if (ramp.switchSensed(state) != closed)
            return ns;
    }
    return -1;
}

bool StepperDriverModel::heldLocked() const
{
    const uint32_t runCurrent = (m_registers[Currents] >> 8) & 0x1F;
    return m_registers[Mode] != 0 || m_stalled || runCurrent == 0 || m_registers[MaxVelocity] == 0;
}

bool StepperDriverModel::activeLocked() const
{
    return rampLocked().isActive(m_state);
}

double StepperDriverModel::mmPerMicrostepLocked() const
{
    const unsigned int code = (m_registers[Chopper] >> 24) & 0xF;
    const unsigned int micro = code <= 8 ? 256u >> code : 256u;
    return m_axis.pitchUm / 1000.0 / (static_cast<double>(m_axis.fullStepsPerRevolution) * micro);
}

bool StepperDriverModel::physicalSwitchClosedLocked() const
{
    return m_state.plateMm <= m_axis.switchMm;
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
        m_state.position = static_cast<int32_t>(value);
        break;
    case Latch:
        break; // read-only
    case Mode:
        m_registers[Mode] = value;
        break;
    default:
        m_registers[address] = value;
        break;
    }
    // Another mode, no run current or no velocity holds the axis at once.
    if (heldLocked())
        m_state.velocity = 0;
}

uint32_t StepperDriverModel::readLocked(uint8_t address) const
{
    if (address == Actual)
        return static_cast<uint32_t>(static_cast<int32_t>(std::lround(m_state.position)));
    if (address == Latch)
        return m_latched;
    return m_registers[address];
}

uint8_t StepperDriverModel::statusLocked() const
{
    uint8_t status = 0;
    if (m_stalled)
        status |= kStatusStall;
    if (m_state.velocity == 0)
        status |= kStatusStandstill;
    if (std::fabs(static_cast<int32_t>(m_registers[Target]) - m_state.position) < 0.5)
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
