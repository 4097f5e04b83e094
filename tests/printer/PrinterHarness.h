#pragma once

#include "board/SimMachine.h"
#include "engine/Printer.h"

#include <string>
#include <vector>

// One printer on the simulated machine per test process: a tiny panel of
// 64 x 36 pixels (2 pixels per mm), short waits, and a machine clock running
// fast enough that a print of a few layers takes well under a second.
namespace harness {

constexpr int kWidth = 64;
constexpr int kHeight = 36;
constexpr double kSpeed = 50;

// Configures the machine, boots it and the printer, and initialises the printer.
Printer* startPrinter(double speed = kSpeed);
sim::SimMachine& machine();

// Writes a slice file under the scratch root; returns its board path.
std::string writeSvgx(const std::string& name, int layers, int attachLayers, int transitionLayers,
                      float attachSeconds, float normalSeconds);
std::string writeQds(const std::string& name, int layers, int corruptLayer = -1);

// Runs until the print has ended (or `seconds` of real time pass): true when it ended.
bool waitUntilFinished(Printer* printer, double seconds = 60);
// Polls until the print thread reaches `state`: true when it did.
bool waitForState(Printer* printer, int state, double seconds = 30);
bool waitForStatus(Printer* printer, PrintStatus status, double seconds = 30);

// The log lines holding `text`, in order.
std::vector<std::string> logLines(const std::string& text);

// The gray level of the frame buffer's pixel (x, y) (first byte).
int framePixel(int x, int y);

} // namespace harness
