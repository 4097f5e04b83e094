#pragma once

#include <string>

// What is wrong with a slice file, in the user's words, as the engine's own
// readers find it: the simulator reads the file again with them after the
// printer refused it or a layer of it failed, since the printer tells only a
// code. Layers are counted from 1 in the words.

// Why the file at `hostPath` cannot be handed to the printer at all: it is
// missing, a folder or no regular file, unreadable, or neither ".qds" nor
// ".svgx". Empty when it can.
std::string inputFault(const std::string& hostPath);

// Why the printer refuses the slice file at `boardPath` on a panel of width x
// height: "it is empty", "it has no print parameters (...)", "it is sliced
// for 3840x2400 pixels; the machine's panel is 1920x1080", ... Empty when
// the readers find nothing wrong.
std::string refusalCause(const std::string& boardPath, int width, int height);

// Why the printer cannot take the count of layers that the slice file at
// `boardPath` declares, in words that give the count as the file has it:
// more layers than the printer counts (it shows 2147483647 at most), or an
// .svgx count that its reader takes for none. Empty when the count is sound,
// or the file cannot be read (the printer then refuses it for that).
std::string layerCountFault(const std::string& boardPath);

// Why `layer` (from 0) of the slice file at `boardPath` could not be made on
// a panel of width x height: its record, parameters or raster as the readers
// and the layer decoder find them. Empty when they find nothing wrong (the
// image then was not made in time).
std::string layerFault(const std::string& boardPath, int layer, int width, int height);
