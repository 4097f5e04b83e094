#pragma once

// One Z motion profile. The motor takes A, D and V for a move; X is the length
// of the stage the profile drives.
struct MotorPara
{
    float A = 0; // acceleration (no unit)
    float D = 0; // deceleration (no unit)
    float V = 0; // velocity, mm/s
    float X = 0; // distance, mm
};

inline bool operator==(const MotorPara& a, const MotorPara& b)
{
    return a.A == b.A && a.D == b.D && a.V == b.V && a.X == b.X;
}

inline bool operator!=(const MotorPara& a, const MotorPara& b)
{
    return !(a == b);
}
