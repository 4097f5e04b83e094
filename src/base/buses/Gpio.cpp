#include "base/buses/Gpio.h"

#include "base/buses/SysfsAttribute.h"
#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>

namespace {

const char kGpioDir[] = "/sys/class/gpio";

std::string number(unsigned int gpio)
{
    return std::to_string(static_cast<int>(gpio));
}

} // namespace

int gpio_export(unsigned int gpio)
{
    if (gpio == 0)
        return 0;
    char dir[256];
    snprintf(dir, sizeof dir, "%s/gpio%d", kGpioDir, static_cast<int>(gpio));
    if (sysfsExists(dir))
        return 0;
    return sysfsWrite("/sys/class/gpio/export", number(gpio), "gpio/export");
}

int gpio_unexport(unsigned int gpio)
{
    if (gpio == 0)
        return 0;
    char dir[256];
    snprintf(dir, sizeof dir, "%s/gpio%d", kGpioDir, static_cast<int>(gpio));
    if (!sysfsExists(dir))
        return 0;
    return sysfsWrite("/sys/class/gpio/unexport", number(gpio), "gpio/unexport");
}

int gpio_set_dir(unsigned int gpio, const std::string& direction)
{
    if (gpio == 0)
        return 0;
    if (direction != "in" && direction != "out")
        return -EINVAL;
    char path[128];
    snprintf(path, sizeof path, "/sys/class/gpio/gpio%u/direction", gpio);
    return sysfsWriteAttribute(path, direction);
}

int gpio_set_value(unsigned int gpio, unsigned int value)
{
    if (gpio == 0)
        return 0;
    if (value > 1)
        return -EINVAL;
    char path[128];
    snprintf(path, sizeof path, "%s/gpio%d/value", kGpioDir, static_cast<int>(gpio));
    return sysfsWriteAttribute(path, value ? "1" : "0");
}

int gpio_get_value(unsigned int gpio, unsigned int* value)
{
    if (gpio == 0)
        return 0;
    char path[128];
    snprintf(path, sizeof path, "%s/gpio%d/value", kGpioDir, static_cast<int>(gpio));
    char ch = 0;
    const int n = sysfsReadAttribute(path, &ch, 1);
    if (n < 0)
        return n;
    // An empty read carries no level: report it rather than guess one.
    if (n == 0)
        return -EIO;
    *value = ch == '0' ? 0 : 1;
    return 0;
}

int gpio_set_edge(unsigned int gpio, const std::string& edge)
{
    if (gpio == 0)
        return 0;
    if (edge != "falling" && edge != "rising" && edge != "both")
        return -EINVAL;
    char path[128];
    snprintf(path, sizeof path, "%s/gpio%d/edge", kGpioDir, static_cast<int>(gpio));
    return sysfsWriteAttribute(path, edge);
}

int gpio_fd_open(unsigned int gpio)
{
    if (gpio == 0)
        return 0;
    char path[128];
    snprintf(path, sizeof path, "%s/gpio%d/value", kGpioDir, static_cast<int>(gpio));
    const int fd = platform().io().open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        perror("gpio/fd_open");
        return -error;
    }
    return fd;
}

int gpio_wait_edge(int fd, int timeoutMs, int wakeFd)
{
    if (fd <= 0)
        return -EBADF;
    pollfd fds[2] = {{fd, POLLPRI, 0}, {wakeFd, POLLIN, 0}};
    const timespec deadline = platform().clock().deadlineAfterMs(timeoutMs < 0 ? 0 : timeoutMs);
    const int rc = pollUntil(fds, wakeFd >= 0 ? 2 : 1, timeoutMs < 0 ? nullptr : &deadline);
    if (rc < 0)
        return -errno;
    if (rc == 0)
        return 0;
    // A stop request wins over an edge that came at the same time.
    if (wakeFd >= 0 && fds[1].revents != 0)
        return -ECANCELED;
    return (fds[0].revents & POLLPRI) ? 1 : -EIO;
}
