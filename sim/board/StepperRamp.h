#pragma once

namespace sim {

// The stepper chip's ramp generator in closed form. The motion is cut into
// stretches of constant acceleration; the model takes the stretch that comes
// next from where the axis is and works out where the axis stands at any
// instant of it, so the axis reaches any machine time at once, however long
// nobody looked at it. Velocities are in microsteps/s, accelerations in
// microsteps/s², positions in microsteps of the chip's count.

// What the registers ask of the motion.
struct RampSettings
{
    double startVelocity = 0;
    double firstAcceleration = 0; // below the switch velocity
    double switchVelocity = 0;    // 0 leaves out the slow first and final stages
    double maxAcceleration = 0;
    double maxVelocity = 0;
    double maxDeceleration = 0;
    double finalDeceleration = 0; // below the switch velocity
    double stopVelocity = 0;
    double target = 0;
    bool held = false;         // another mode, a stall, no run current: the axis stands
    bool stopOnSwitch = false; // a downward motion stops where the switch closes
};

// The mechanics the chip turns, and the switch as the chip and its line sense it.
struct RampAxis
{
    enum class Sense { Mechanics, StuckOpen, StuckClosed };

    double mmPerMicrostep = 0;
    double switchMm = 0; // closed at and below
    double lowerStopMm = 0;
    double upperStopMm = 0;
    Sense sense = Sense::Mechanics;
};

struct AxisState
{
    double position = 0; // the chip's count
    double velocity = 0; // signed: up is positive
    double plateMm = 0;  // the plate's height; it stops at the hard ends while the count goes on
};

// One stretch of constant acceleration.
struct RampSegment
{
    enum class End {
        Continue, // nothing changes: the next stretch takes over (a braking point, an open end)
        Speed,    // the speed reaches endSpeed, where the next stage begins
        Stand,    // the axis stands
        Arrive,   // on the target, standing
        Switch,   // the switch the chip senses changes here
    };

    AxisState from;
    double direction = 1;    // the way the count goes: +1 or -1
    double speed = 0;        // at its start (a start or stop velocity may jump it)
    double acceleration = 0; // of the speed; negative while braking
    double seconds = 0;      // its length: infinite when nothing ends it
    End end = End::Continue;
    double endSpeed = 0;
};

class StepperRamp
{
public:
    StepperRamp(const RampSettings& settings, const RampAxis& axis);

    // The chip drives the axis from this state (it is on its way, or yet to start).
    bool isActive(const AxisState& state) const;
    bool switchSensed(const AxisState& state) const;
    // The stretch that begins at this state of an active axis.
    RampSegment next(const AxisState& state) const;
    // Where the axis is `seconds` into a stretch; at its length or beyond, where it ends.
    AxisState at(const RampSegment& segment, double seconds) const;

private:
    // The stages below the switch velocity are part of the ramp.
    bool slowStart() const;
    bool slowFinish() const;
    double brakingDistance(double speed) const;
    double accelerationAt(double speed) const;
    double decelerationAt(double speed) const;
    // How far the axis, going this way, is from the point where it must brake
    // for the target (negative: past it).
    double brakingMargin(const AxisState& state, double direction) const;
    RampSegment brakeAway(RampSegment segment, double speed) const;
    RampSegment approach(RampSegment segment, double speed, double distance) const;
    RampSegment brake(RampSegment segment, double speed, double distance) const;
    RampSegment endAtBrakingPoint(RampSegment segment) const;
    RampSegment endAtSwitch(RampSegment segment) const;

    const RampSettings m_settings;
    const RampAxis m_axis;
};

} // namespace sim
