#pragma once

#include "base/config/MotorPara.h"

#include <cstdint>
#include <string>
#include <vector>

// The records of the configuration store, one per configuration file. Member
// names are the keys of the files; members carry their factory defaults.

// General.json
struct GeneralConfig
{
    std::string Language = "en_US";
    std::string PrinterName = "Talvik S";
    int32_t LogLevel = 1;
    bool ConsoleOutput = false;
    bool KeyToneFlag = false;
    bool TestNetFlag = false;
    bool DoorFlag = false;
    bool WifiFlag = false;
    bool EthInterfaceUIFlag = true;
    bool WifiUIFlag = true;
};

// PrinterConfig.json
struct PrinterConfig
{
    float Width = 144.0f;  // projected area, mm
    float Height = 81.0f;  // projected area, mm
    uint32_t XRes = 1920;  // projector pixels across
    uint32_t YRes = 1080;  // projector pixels down
    float Rotate = 0;
    bool XMirror = false;
    bool YMirror = false;
    float ZLength = 150.0f; // Z travel, whole mm
    float ZOffset = 0;      // whole mm
    uint32_t XScale = 10000;
    uint32_t YScale = 10000;
    uint32_t ZScale = 10000;
    uint32_t LightCurrent = 50; // UV light duties of PWM channels 0 to 3, percent
    uint32_t LightCurrentI = 50;
    uint32_t LightCurrentII = 50;
    uint32_t LightCurrentIII = 50;
    uint32_t LightCurrentScale = 10000;
    uint32_t LightFrequency = 1000; // Hz
    bool MaskFlag = false;
    bool CorrectFlag = false;
    int32_t ImageChannel = 1; // kept by the projection's channel step; never stored in the file
    int32_t OutlineGrayOffset = 0;
    bool Reverse = false;
    uint32_t Pitch = 2000;
    MotorPara MotorParaI{2.0f, 2.0f, 5.0f, 160.0f};
    MotorPara MotorParaII{1.0f, 1.0f, 1.0f, 5.0f};
    uint32_t locatorCount = 1;
    uint32_t locatorDistance = 0;
    uint32_t locatorAlgo = 1;
    uint32_t PrintLayerLimit = 15000; // film life in layers
    uint32_t PWMSource = 2;
};

// UsedTime.json
struct UsedTime
{
    uint32_t PrintTime = 0;  // seconds
    uint32_t LightTime = 0;  // seconds of UV light
    uint32_t PrintLayer = 0; // layers printed on the current film
};

// PrintingPara.json (normal set) and PrintingPara_Fast.json (fast set)
struct PrintingPara
{
    std::string Name;
    uint32_t PauseOverLift = 0;  // mm
    uint32_t FinishOverLift = 0; // mm
    uint32_t SettleTime = 1000;  // ms
    uint32_t ReleaseTime = 200;  // ms
    uint32_t BreatheTime = 100;  // ms
    uint32_t BaseSettleTime = 8000; // ms
    uint32_t BaseSettleLayer = 20;
    uint32_t BaseSettleTransLayer = 0;
    MotorPara LiftI{0.1f, 0.1f, 1.0f, 2.0f};
    MotorPara LiftII{4, 5, 8, 4};
    MotorPara DropI{4, 5, 8, 4};
    MotorPara DropII{0.5f, 0.5f, 2.0f, 2.0f};
    double Lift_V = 0.5; // mm/s, base layers
    double Drop_V = 1.0; // mm/s, base layers

    // The factory sets; the lifts to the pause and finish positions are half
    // the Z travel given.
    static PrintingPara normalSet(float zLength);
    static PrintingPara fastSet(float zLength);
};

// WiFiConfig.json
struct WiFiConfig
{
    int32_t WifiStatus = 0; // stored state word, carried through unchanged
    std::string HotspotSSID;
    std::string HotspotPWD;
};

// LightIntensitySTA.json: row i pairs Duty[i] (percent) with Lux[i], the
// intensity measured at that duty; both decimal integers in text.
struct LightIntensityTable
{
    std::vector<std::string> Duty;
    std::vector<std::string> Lux;
};
