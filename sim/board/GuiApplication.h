#pragma once

namespace sim {

// Painting and SVG rendering want a Qt application object; a process that
// has none gets one here, on the offscreen platform unless another is set.
// It lives until the process exits, as the printer that renders does.
void ensureGuiApplication();

} // namespace sim
