#include "board/StepperRamp.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sim {

namespace {

using End = RampSegment::End;

constexpr double kForever = std::numeric_limits<double>::infinity();
// Braking starts this close to its point (microsteps): the stretch before it
// ends half as close, so that rounding never leaves the axis just short of
// it, accelerating again for a few nanoseconds at a time.
constexpr double kBrakingSlack = 1e-3;

// Time to travel `distance` from speed `speed` under `acceleration`; infinite when never.
double timeToCover(double speed, double acceleration, double distance)
{
    if (distance <= 0)
        return 0;
    const double discriminant = speed * speed + 2 * acceleration * distance;
    if (discriminant < 0)
        return kForever;
    const double denominator = speed + std::sqrt(discriminant);
    return denominator > 0 ? 2 * distance / denominator : kForever;
}

double traveled(const RampSegment& segment, double seconds)
{
    return seconds > 0 ? segment.speed * seconds + segment.acceleration * seconds * seconds / 2 : 0;
}

} // namespace

StepperRamp::StepperRamp(const RampSettings& settings, const RampAxis& axis) : m_settings(settings), m_axis(axis) {}

bool StepperRamp::switchSensed(const AxisState& state) const
{
    switch (m_axis.sense) {
    case RampAxis::Sense::StuckOpen:
        return false;
    case RampAxis::Sense::StuckClosed:
        return true;
    case RampAxis::Sense::Mechanics:
        break;
    }
    return state.plateMm <= m_axis.switchMm;
}

bool StepperRamp::isActive(const AxisState& state) const
{
    if (m_settings.held)
        return false;
    const double distance = m_settings.target - state.position;
    if (distance < 0 && m_settings.stopOnSwitch && switchSensed(state))
        return false;
    return state.velocity != 0 || std::fabs(distance) >= 0.5;
}

double StepperRamp::brakingDistance(double speed) const
{
    const double v1 = m_settings.switchVelocity;
    const double vStop = m_settings.stopVelocity;
    const double dMax = m_settings.maxDeceleration;
    const double d1 = m_settings.finalDeceleration;
    auto stage = [](double from, double to, double deceleration) {
        return from > to && deceleration > 0 ? (from * from - to * to) / (2 * deceleration) : 0.0;
    };
    if (slowFinish()) {
        if (speed > v1)
            return stage(speed, v1, dMax) + stage(v1, vStop, d1);
        return stage(speed, vStop, d1);
    }
    return stage(speed, vStop, dMax);
}

bool StepperRamp::slowStart() const
{
    return m_settings.switchVelocity > 0 && m_settings.firstAcceleration > 0;
}

bool StepperRamp::slowFinish() const
{
    return m_settings.switchVelocity > 0 && m_settings.finalDeceleration > 0;
}

double StepperRamp::accelerationAt(double speed) const
{
    return slowStart() && speed < m_settings.switchVelocity ? m_settings.firstAcceleration
                                                            : m_settings.maxAcceleration;
}

double StepperRamp::decelerationAt(double speed) const
{
    return slowFinish() && speed <= m_settings.switchVelocity ? m_settings.finalDeceleration
                                                              : m_settings.maxDeceleration;
}

double StepperRamp::brakingMargin(const AxisState& state, double direction) const
{
    return (m_settings.target - state.position) * direction - brakingDistance(std::fabs(state.velocity));
}

RampSegment StepperRamp::next(const AxisState& state) const
{
    RampSegment segment;
    segment.from = state;
    const double distance = m_settings.target - state.position;
    segment.direction = distance > 0 ? 1 : -1;
    if (m_settings.held) {
        segment.end = End::Stand;
        return segment;
    }
    if (std::fabs(distance) < 0.5) {
        segment.end = End::Arrive;
        return segment;
    }
    // A closed switch stops every downward motion, and a motion away from a target below.
    if (m_settings.stopOnSwitch && switchSensed(state) && (distance < 0 || state.velocity < 0)) {
        segment.end = End::Stand;
        return segment;
    }
    const double speed = std::fabs(state.velocity);
    if (state.velocity * segment.direction < 0)
        return endAtSwitch(brakeAway(segment, speed));
    // From a stand the chip starts at its start velocity.
    const double startSpeed = speed == 0 ? std::min(m_settings.startVelocity, m_settings.maxVelocity) : speed;
    if (std::fabs(distance) <= brakingDistance(startSpeed) + kBrakingSlack)
        return endAtSwitch(brake(segment, startSpeed, std::fabs(distance)));
    return endAtSwitch(approach(segment, startSpeed, std::fabs(distance)));
}

// Moving away from a new target: brake to a stand first (the stop velocity is as good as one).
RampSegment StepperRamp::brakeAway(RampSegment segment, double speed) const
{
    const double vStop = m_settings.stopVelocity;
    segment.direction = -segment.direction;
    segment.speed = speed;
    if (speed <= vStop) {
        segment.end = End::Stand;
        return segment;
    }
    const double rate = decelerationAt(speed);
    double endSpeed = vStop;
    if (slowFinish() && speed > m_settings.switchVelocity)
        endSpeed = std::max(vStop, m_settings.switchVelocity);
    if (rate <= 0) {
        segment.seconds = kForever;
        return segment;
    }
    segment.acceleration = -rate;
    segment.seconds = (speed - endSpeed) / rate;
    segment.end = endSpeed > vStop ? End::Speed : End::Stand;
    segment.endSpeed = endSpeed;
    return segment;
}

// Within braking distance: slow down, never below the stop velocity nor to a
// stand short of the target.
RampSegment StepperRamp::brake(RampSegment segment, double speed, double distance) const
{
    const double floor = std::max(m_settings.stopVelocity, 1.0);
    segment.end = End::Arrive;
    if (speed <= floor) {
        segment.speed = floor;
        segment.seconds = distance / floor;
        return segment;
    }
    segment.speed = speed;
    const double rate = decelerationAt(speed);
    if (rate <= 0) {
        segment.seconds = distance / speed;
        return segment;
    }
    double endSpeed = floor;
    if (slowFinish() && speed > m_settings.switchVelocity)
        endSpeed = std::max(floor, m_settings.switchVelocity);
    const double slowing = (speed - endSpeed) / rate;
    segment.acceleration = -rate;
    if (speed * slowing - rate * slowing * slowing / 2 >= distance) {
        segment.seconds = timeToCover(speed, -rate, distance);
        return segment;
    }
    segment.seconds = slowing;
    segment.end = End::Speed;
    segment.endSpeed = endSpeed;
    return segment;
}

// Short of braking distance: speed up to the next stage or the maximum, or cruise.
RampSegment StepperRamp::approach(RampSegment segment, double speed, double distance) const
{
    const double vMax = m_settings.maxVelocity;
    segment.speed = std::min(speed, vMax);
    const double rate = accelerationAt(segment.speed);
    if (segment.speed >= vMax || rate <= 0) {
        if (segment.speed <= 0) {
            segment.seconds = kForever; // nothing moves it
            return segment;
        }
        // Cruising: the braking point by the straight line, kept half the slack short of it.
        const double cruise = distance - brakingDistance(segment.speed) - kBrakingSlack / 2;
        segment.seconds = std::max(0.0, cruise / segment.speed);
        return segment;
    }
    double endSpeed = vMax;
    if (slowStart() && segment.speed < m_settings.switchVelocity)
        endSpeed = std::min(vMax, m_settings.switchVelocity);
    segment.acceleration = rate;
    segment.seconds = (endSpeed - segment.speed) / rate;
    segment.end = End::Speed;
    segment.endSpeed = endSpeed;
    return endAtBrakingPoint(segment);
}

// Cuts an accelerating stretch where the axis must start braking: the margin
// falls as the axis speeds up and nears the target, so halving finds it.
RampSegment StepperRamp::endAtBrakingPoint(RampSegment segment) const
{
    if (brakingMargin(at(segment, segment.seconds), segment.direction) > kBrakingSlack / 2)
        return segment;
    segment.end = End::Continue;
    double early = 0, late = segment.seconds;
    for (int i = 0; i < 100 && late - early > 0; ++i) {
        const double middle = early + (late - early) / 2;
        if (middle <= early || middle >= late)
            break;
        if (brakingMargin(at(segment, middle), segment.direction) > kBrakingSlack / 2)
            early = middle;
        else
            late = middle;
    }
    segment.seconds = late;
    return segment;
}

// Cuts a stretch where the plate passes the switch, when the chip senses it.
RampSegment StepperRamp::endAtSwitch(RampSegment segment) const
{
    if (m_axis.sense != RampAxis::Sense::Mechanics || m_axis.mmPerMicrostep <= 0)
        return segment;
    const double plate = segment.from.plateMm;
    double mm;
    if (segment.direction < 0 && plate > m_axis.switchMm)
        mm = plate - m_axis.switchMm; // down onto it
    else if (segment.direction > 0 && plate <= m_axis.switchMm)
        mm = m_axis.switchMm - plate; // up off it
    else
        return segment;
    const double seconds = timeToCover(segment.speed, segment.acceleration, mm / m_axis.mmPerMicrostep);
    if (seconds < segment.seconds) {
        segment.seconds = seconds;
        segment.end = End::Switch;
    }
    return segment;
}

AxisState StepperRamp::at(const RampSegment& segment, double seconds) const
{
    AxisState state = segment.from;
    const bool ended = seconds >= segment.seconds;
    if (ended)
        seconds = segment.seconds;
    double distance = traveled(segment, seconds);
    double speed = segment.speed + segment.acceleration * seconds;
    if (ended) {
        switch (segment.end) {
        case End::Continue:
        case End::Switch:
            break;
        case End::Speed:
            speed = segment.endSpeed;
            break;
        case End::Stand:
            speed = 0;
            break;
        case End::Arrive:
            distance = std::fabs(m_settings.target - segment.from.position);
            speed = 0;
            break;
        }
    }
    state.position = segment.end == End::Arrive && ended ? m_settings.target
                                                         : segment.from.position + segment.direction * distance;
    state.velocity = speed > 0 ? segment.direction * speed : 0;
    state.plateMm = std::min(std::max(segment.from.plateMm + segment.direction * distance * m_axis.mmPerMicrostep,
                                      m_axis.lowerStopMm),
                             m_axis.upperStopMm);
    if (ended && segment.end == End::Switch) {
        // Rounding must not leave the plate on the side it came from.
        if (segment.direction < 0)
            state.plateMm = std::min(state.plateMm, m_axis.switchMm);
        else
            state.plateMm = std::max(state.plateMm, std::nextafter(m_axis.switchMm, kForever));
        if (m_settings.stopOnSwitch && state.velocity < 0 && switchSensed(state))
            state.velocity = 0;
    }
    return state;
}

} // namespace sim
