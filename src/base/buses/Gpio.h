#pragma once

#include <string>

// GPIO lines through the kernel's sysfs class "/sys/class/gpio". Lines are
// named by their kernel number; number 0 stands for no line at all: every
// function returns 0 for it at once and touches nothing. Each call opens the
// one attribute it needs and closes it again. Results are 0 or a negative
// errno; -EEXIST means the line is not exported (its attribute is missing).

int gpio_export(unsigned int gpio);
int gpio_unexport(unsigned int gpio);
// "in" or "out".
int gpio_set_dir(unsigned int gpio, const std::string& direction);
// 0 or 1.
int gpio_set_value(unsigned int gpio, unsigned int value);
// `value` becomes 0 when the line reads "0", else 1; on failure it is left as it was.
int gpio_get_value(unsigned int gpio, unsigned int* value);
// "falling", "rising" or "both".
int gpio_set_edge(unsigned int gpio, const std::string& edge);
// The value file opened for watching (read-only, non-blocking); the caller
// owns the descriptor and closes it through the SysIo seam.
int gpio_fd_open(unsigned int gpio);

// Waits for an edge on a descriptor from gpio_fd_open, or for `wakeFd` (for
// example a StopSignal's; -1 for none) to become readable. A negative time-out
// waits without limit; the time runs on the machine clock. 1 for an edge,
// 0 for a time-out, -ECANCELED when woken, -EIO for an event that is no edge,
// else the negative errno of the wait. The caller reads the value afterwards
// (seek to 0, read), which also re-arms the edge report.
int gpio_wait_edge(int fd, int timeoutMs, int wakeFd = -1);
