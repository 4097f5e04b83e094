#pragma once

// The toolkit's messages (a layer of thousands of unresolved references
// makes hundreds of thousands of warnings) reach the renderer's standard
// error, the printer's log, only a few a layer.
namespace boundedmessages {

void install();
// A new layer may have its few messages again.
void newLayer();

} // namespace boundedmessages
