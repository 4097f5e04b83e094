#pragma once

#include <sys/types.h>

// What the renderer gives up before it reads a layer: a renderer that a
// hostile layer takes over holds nothing of the printer's, and a printer
// that ends takes its renderer along.
namespace confinement {

// Ends this program when `parent`, the process that started it, ends (also
// while a layer is drawn). False when the parent is gone already or the
// end cannot be arranged.
bool followParent(pid_t parent);

// No new privileges, and no capabilities, in any set. False when any of it
// cannot be had.
bool dropPrivileges();

} // namespace confinement
