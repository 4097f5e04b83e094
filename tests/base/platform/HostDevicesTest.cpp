// Under a scratch root the host's device nodes cannot be dressed up past
// the device filter of the real SysIo.
#include "base/log/RootPath.h"
#include "base/platform/SysIo.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>

TEST(HostDevices, DeviceFilterMatchesNormalisedPaths)
{
    SysIo real;
    for (const char* node : {"/dev/fb0", "/dev/./fb0", "//dev/fb0", "/dev/../dev/spidev0.0", "/dev//i2c-0"}) {
        errno = 0;
        EXPECT_EQ(-1, real.open(node, O_RDWR)) << node;
        EXPECT_EQ(EPERM, errno) << node;
    }
    for (const char* attribute : {"//sys/class/gpio/export", "/sys/./class/gpio/export", "/tmp/../sys/power/state"}) {
        errno = 0;
        EXPECT_EQ(-1, real.open(attribute, O_WRONLY)) << attribute;
        EXPECT_EQ(EPERM, errno) << attribute;
    }
    EXPECT_EQ("/sys/class", absoluteNormalPath("//sys/./class/"));
    EXPECT_EQ("/dev/fb0", absoluteNormalPath("/dev/x/../fb0"));
}
