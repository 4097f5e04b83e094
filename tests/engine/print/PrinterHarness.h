#pragma once

#include "board/SimMachine.h"
#include "engine/print/Printer.h"
#include "writers/QdsWriter.h"

#include <mutex>
#include <string>
#include <vector>

// One printer on the simulated machine per test process: a tiny panel of
// 64 x 36 pixels (2 pixels per mm), short waits, and a machine clock running
// fast enough that a print of a few layers takes well under a second.
namespace harness {

constexpr int kWidth = 64;
constexpr int kHeight = 36;
constexpr double kSpeed = 50;
// A step that lasts this many machine seconds (five real ones at kSpeed) is
// long enough for a test to act within it, however busy the host.
constexpr float kLongSeconds = 250;

// Configures the machine, boots it and the printer, and initialises the printer.
Printer* startPrinter(double speed = kSpeed);
// The same without initialising the printer.
Printer* bootPrinter(double speed = kSpeed);
sim::SimMachine& machine();

// Writes a slice file under the scratch root; returns its board path.
std::string writeSvgx(const std::string& name, int layers, int attachLayers, int transitionLayers,
                      float attachSeconds, float normalSeconds);
std::string writeQds(const std::string& name, int layers, int corruptLayer = -1);
// The qds file of writeQds as a spec, to change before writing it with writeQdsSpec.
testwriters::QdsFileSpec qdsSpec(int layers, int corruptLayer = -1);
std::string writeQdsSpec(const std::string& name, const testwriters::QdsFileSpec& spec);

// Runs until the print has ended (or `seconds` of real time pass): true when it ended.
bool waitUntilFinished(Printer* printer, double seconds = 60);
// Polls until the print thread reaches `state`: true when it did.
bool waitForState(Printer* printer, int state, double seconds = 30);
bool waitForStatus(Printer* printer, PrintStatus status, double seconds = 30);

// The log lines holding `text`, in order.
std::vector<std::string> logLines(const std::string& text);

// Whether the process `pid` runs the layer renderer.
bool isLayerRenderer(int pid);

// The gray level of the frame buffer's pixel (x, y) (first byte).
int framePixel(int x, int y);

struct LightSwitch
{
    bool on;
    double plateMm;
    int litPixels;     // lit pixels on the panel at that moment
    bool aborting;     // the printer said isAborting() then
};

// Records every switch of the light as it happens: where the plate stands,
// what the panel shows and whether an abort is in progress.
class LightRecorder
{
public:
    LightRecorder();
    ~LightRecorder();
    // The switch-ons.
    std::vector<LightSwitch> events();
    std::vector<LightSwitch> switches();

private:
    std::mutex m_mutex;
    std::vector<LightSwitch> m_switches;
};

} // namespace harness
