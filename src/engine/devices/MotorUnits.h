#pragma once

#include "base/config/MotorPara.h"

#include <array>
#include <cstdint>

// Conversions between the Z axis in millimetres and the stepper chip's units.
// Each refuses (-EINVAL) what would divide by zero, overflow a cast or give a
// ramp the chip cannot run, instead of handing the chip a wrapped value.

struct MotorUnits
{
    int uscPerMM = 0;     // microsteps per millimetre
    double mmPerUSC = 0;  // millimetres per microstep
    double aUnit = 0;     // chip acceleration units per (acceleration × 1000)
    double vUnit = 0;     // chip velocity units per (speed in mm/s × 1000)
};

// Units for a screw lead (µm per revolution) and a microstep resolution
// (a power of two from 1 to 256): 0 or -EINVAL.
int computeMotorUnits(uint32_t pitch, uint32_t microSteps, MotorUnits& units);

// (int)(lengthMm × uscPerMM) in single precision: 0, or -EINVAL when the
// length is not finite and positive or the count does not fit an int.
int travelSteps(float lengthMm, int uscPerMM, int& steps);

// The six ramp values (first acceleration, switch velocity, maximum
// acceleration, maximum velocity, maximum deceleration, final deceleration)
// in millimetre units × 1000.
using RampValues = std::array<double, 6>;
// The chip registers 0x24, 0x25, 0x26, 0x27, 0x28, 0x2A, in that order.
using RampRegisters = std::array<uint32_t, 6>;
extern const std::array<uint8_t, 6> kRampRegisterAddresses;

// One profile: (A, V / 2, A, V, D, D). 0, or -EINVAL unless A, D and V are
// finite and above 0.
int oneStageRamp(const MotorPara& profile, RampValues& values);

// Two profiles, stage I then stage II: a slow start with a fast finish when
// I.V < II.V, else a fast start with a slow finish. 0, or -EINVAL unless the
// fields used are finite and above 0 (a stage of length 0 has no ramp).
int twoStageRamp(const MotorPara& stageI, const MotorPara& stageII, RampValues& values);

// value × unit, truncated, for each register: 0, or -EINVAL when a product
// is not a finite number from 0 to 2^32 - 1.
int rampRegisters(const RampValues& values, const MotorUnits& units, RampRegisters& registers);
