#pragma once

#include "base/config/MotorPara.h"
#include "engine/records/PrintRecords.h"
#include "engine/slicefile/ModelInfo.h"
#include "engine/slicefile/QdsFormat.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class Printer;

// One layer as the image thread takes it from the open reader.
struct NextLayer
{
    enum class Source { None, Svg, Qds };
    Source source = Source::None;
    std::string data; // the ".svgx" layer document, or the qds compressed raster
    ComprFormat format = ComprFormat(0);
    // qds: the layer's work parameters; none when they could not be read.
    std::optional<PrintWorkPara> params;
    // Readable once the image is no longer wanted (-1: none): a render or a
    // wait for it ends then.
    int cancelFd = -1;
};

// What the print loop, the image maker and the homing thread need of the
// machine, and no more: the light, moves, ramps and stops, the status, the
// next image and its layer parameters, and the output lines. Printer implements
// it; the loop never sees the rest of the facade.
class PrintMachine
{
public:
    // Status.
    virtual void setPrintStatus(const PrintStatus& status) = 0;
    virtual bool isPrinting() const = 0;
    virtual int resetPrintInfo() = 0;

    // Light.
    virtual int lightOn() = 0;
    // An unpowered projector counts as switched off.
    virtual int lightOff() = 0;

    // Moves, ramps and stops.
    virtual int getPosition(float& mm) = 0;
    virtual float getMaxPosition() = 0;
    virtual int setMotorRamp(const MotorPara& ramp) = 0;
    virtual int setMotorRamps(const MotorPara ramps[2]) = 0;
    virtual int moveWait(float mm, bool relative) = 0;
    virtual int move(float mm, bool relative) = 0;
    // A caller that must never start motion after it was told to stop takes
    // the motor's stop count while it decides, then moves or homes "since"
    // that count: a stopMotor() in between cancels the motion.
    virtual unsigned int motorStopGeneration() const = 0;
    virtual int moveWaitSince(float mm, bool relative, unsigned int generation) = 0;
    virtual int startHomingSince(unsigned int generation, bool setStatus) = 0;
    // Holds the axis where it stands and wakes a waited move or a homing.
    // Never refused: it ends the print's own motion on an abort.
    virtual void stopMotor() = 0;
    virtual void disableMotorLocator(bool disable) = 0;

    // The panel and the next image.
    virtual int enableScreen(bool on) = 0;
    virtual int setCalibrationFactor(float x, float y) = 0;
    virtual int transDataImage(const uint8_t* pixels, size_t size) = 0;
    virtual int readNextLayer(NextLayer& next) = 0;
    virtual int showLayer(const NextLayer& next) = 0;

    // Output lines.
    virtual void setOutputHigh() = 0;
    virtual void setOutputLow() = 0;

protected:
    ~PrintMachine() = default;
};

// The printer as the print threads see it; lets them take the `Printer*`
// they are built with without including the facade.
PrintMachine* machineOf(Printer* printer);
