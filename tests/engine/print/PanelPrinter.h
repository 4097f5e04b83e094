#pragma once

#include "engine/print/Printer.h"

#include <QImage>

// A printer on the simulated machine with a panel of any size, for the
// service images: the channel step is off, so shown images arrive on the
// frame buffer as they were drawn. One machine per test process.
namespace panel {

Printer* startPrinter(int width, int height);
// The frame buffer's visible pixels (RGB888).
QImage frame();

} // namespace panel
