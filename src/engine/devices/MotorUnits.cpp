#include "engine/devices/MotorUnits.h"

#include <cerrno>
#include <climits>
#include <cmath>

const std::array<uint8_t, 6> kRampRegisterAddresses{{0x24, 0x25, 0x26, 0x27, 0x28, 0x2A}};

namespace {

// The chip's clock fixes what one register unit is worth: microsteps/s² and microsteps/s.
constexpr double kAccelerationUnit = 76.85230255126953;
constexpr double kVelocityUnit = 0.7748603820800781;
// Correction of the speed factors for every screw but the 400 µm one.
constexpr double kScrewFactor = 1.340999960899353;

bool positive(float value)
{
    return std::isfinite(value) && value > 0;
}

} // namespace

int computeMotorUnits(uint32_t pitch, uint32_t microSteps, MotorUnits& units)
{
    if (pitch == 0 || microSteps == 0 || microSteps > 256 || (microSteps & (microSteps - 1)) != 0)
        return -EINVAL;
    const uint32_t uscPerMM = 200000u * microSteps / pitch;
    if (uscPerMM == 0)
        return -EINVAL;
    units.uscPerMM = static_cast<int>(uscPerMM);
    units.mmPerUSC = 1.0 / units.uscPerMM;
    const double base = units.uscPerMM / 1000.0;
    units.aUnit = base / kAccelerationUnit;
    units.vUnit = base / kVelocityUnit;
    if (pitch != 400) {
        units.aUnit *= kScrewFactor;
        units.vUnit *= kScrewFactor;
    }
    return 0;
}

int travelSteps(float lengthMm, int uscPerMM, int& steps)
{
    if (!positive(lengthMm) || uscPerMM <= 0)
        return -EINVAL;
    const float count = lengthMm * static_cast<float>(uscPerMM);
    if (!(count < static_cast<float>(INT_MAX)))
        return -EINVAL;
    steps = static_cast<int>(count);
    return 0;
}

int oneStageRamp(const MotorPara& profile, RampValues& values)
{
    if (!positive(profile.A) || !positive(profile.D) || !positive(profile.V))
        return -EINVAL;
    const float a = profile.A * 1000;
    const float v = profile.V * 1000;
    const float d = profile.D * 1000;
    values = {a, v * 0.5, a, v, d, d};
    return 0;
}

int twoStageRamp(const MotorPara& stageI, const MotorPara& stageII, RampValues& values)
{
    if (!positive(stageI.V) || !positive(stageII.V))
        return -EINVAL;
    float v[6];
    if (stageI.V < stageII.V) {
        // Slow start, fast finish.
        if (!positive(stageI.X) || !positive(stageII.A) || !positive(stageII.D))
            return -EINVAL;
        v[0] = 2 * stageI.V * stageI.V / stageI.X;
        v[1] = 2 * stageI.V;
        v[2] = stageII.A;
        v[3] = stageII.V;
        v[4] = stageII.D;
        v[5] = stageII.D;
    } else {
        // Fast start, slow finish.
        if (!positive(stageII.X) || !positive(stageI.A) || !positive(stageI.D))
            return -EINVAL;
        v[0] = stageI.A;
        v[1] = 2 * stageII.V;
        v[2] = stageI.A;
        v[3] = stageI.V;
        v[4] = stageI.D;
        v[5] = 2 * stageII.V * stageII.V / stageII.X;
    }
    for (int i = 0; i < 6; ++i) {
        if (!positive(v[i]))
            return -EINVAL;
        values[i] = static_cast<double>(v[i]) * 1000.0;
    }
    return 0;
}

int rampRegisters(const RampValues& values, const MotorUnits& units, RampRegisters& registers)
{
    // Accelerations and velocities alternate, as the registers do.
    static const bool isVelocity[6] = {false, true, false, true, false, false};
    for (int i = 0; i < 6; ++i) {
        const double product = values[i] * (isVelocity[i] ? units.vUnit : units.aUnit);
        if (!std::isfinite(product) || product < 0 || product >= 4294967296.0)
            return -EINVAL;
        registers[i] = static_cast<uint32_t>(product);
    }
    return 0;
}
