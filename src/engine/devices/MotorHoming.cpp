// Homing against the limit switch, and the waits a stop can end.
#include "engine/devices/MotorControl.h"

#include "base/buses/Gpio.h"
#include "base/config/ConfigStore.h"
#include "base/log/LogWriter.h"
#include "base/platform/Clock.h"
#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const PrinterConfig& printerConfig()
{
    return ConfigStore::instance()->m_printerConfig;
}

// A switch that did not change is -1; a stop stays a stop.
int switchFailure(int rc)
{
    return rc == -ECANCELED ? rc : -1;
}

} // namespace

bool MotorControl::pauseUntil(const timespec& deadline, unsigned int generation)
{
    for (;;) {
        // Cleared before looking, so a stop that comes after the look still ends the sleep.
        m_stopSignal.clear();
        if (stopGeneration() != generation)
            return false;
        if (m_stopSignal.sleepUntil(deadline))
            return stopGeneration() == generation;
    }
}

bool MotorControl::pauseMs(int ms, unsigned int generation)
{
    return pauseUntil(platform().clock().deadlineAfterMs(ms), generation);
}

int MotorControl::sampleSwitch(int fd, int* value)
{
    SysIo& io = platform().io();
    char text[11] = {};
    // Reading the value file also re-arms its edge report.
    if (io.lseek(fd, 0, SEEK_SET) < 0)
        return -errno;
    const ssize_t n = io.read(fd, text, 10);
    if (n <= 0)
        return n < 0 ? -errno : -EIO;
    *value = atoi(text);
    return 0;
}

int MotorControl::waitChanged(int fd)
{
    if (fd < 0) {
        const int error = errno;
        logger()->write(LogError, "%s, %d: %s", "waitChanged", 1134, strerror(error));
        return error;
    }
    const unsigned int generation = stopGeneration();
    if (!pauseMs(1, generation))
        return -ECANCELED;
    int start = 0;
    if (sampleSwitch(fd, &start) < 0) {
        printf("read null %s\n", "waitChanged");
        return -EAGAIN;
    }
    return waitSwitchChange(fd, start, generation);
}

int MotorControl::waitSwitchChange(int fd, int startValue, unsigned int generation)
{
    int result = -ENOTDIR;
    for (int i = 0; i < kSwitchWaits;) {
        m_stopSignal.clear();
        if (stopGeneration() != generation) {
            result = -ECANCELED;
            break;
        }
        // The wait resumes after signals towards its own deadline.
        const int rc = gpio_wait_edge(fd, kSwitchWaitMs, m_stopSignal.fd());
        if (rc == -ECANCELED)
            continue; // a stop ends the loop above; a stale wake-up costs no wait
        ++i;
        if (rc == 0) {
            result = -1;
        } else if (rc == -EIO) {
            result = -EACCES;
        } else if (rc < 0) {
            result = rc;
        } else {
            int value = 0;
            if (sampleSwitch(fd, &value) < 0) {
                result = -EAGAIN;
            } else if (value != startValue) {
                result = 0;
                break;
            } else {
                result = -ENOMEM;
            }
        }
    }
    printf("poll end %i\n", result);
    fflush(stdout);
    return result;
}

int MotorControl::failHoming(int error)
{
    logger()->write(LogError, "Motor Homing Failed (%d)", error);
    stop();
    return error < 0 ? error : -1;
}

int MotorControl::approachSwitch(int distance, int level, unsigned int generation)
{
    int32_t actual = 0;
    int rc = readActual(&actual);
    if (rc < 0)
        return rc;
    const int64_t target = std::max<int64_t>(int64_t(actual) - distance, INT_MIN);
    if ((rc = moveToUnless(static_cast<int>(target), generation)) < 0)
        return rc;
    rc = waitSwitchChange(m_limitFd, level, generation);
    return rc == 0 ? 0 : switchFailure(rc);
}

int MotorControl::home()
{
    return homeSince(stopGeneration());
}

int MotorControl::homeSince(unsigned int generation)
{
    if (!m_initialized)
        return refuse("home");
    const MotorPara approach = printerConfig().MotorParaI;
    const MotorPara bounce = printerConfig().MotorParaII;
    if (m_limitFd < 0)
        return failHoming(-EBADF);

    // Sampled before anything moves: a switch that closes from here on is
    // an edge the waits below see.
    int level = 0;
    int rc = sampleSwitch(m_limitFd, &level);
    if (rc < 0)
        return failHoming(rc);
    printf("Init Switch Flag: %u\n", static_cast<unsigned int>(level));
    uint32_t unused = 0;
    readRegister32(RegActual, &unused);
    readRegister32(RegTarget, &unused);
    readRegister32(RegLatch, &unused);

    if (level == 1) {
        puts("homing down");
        int distance = 0;
        if (travelSteps(approach.X, m_units.uscPerMM, distance) < 0)
            return failHoming(-EINVAL);
        if ((rc = setRamp(approach)) < 0)
            return failHoming(rc);
        logger()->write(LogInfo, "homing down[%d]", distance);
        if ((rc = approachSwitch(distance, level, generation)) != 0)
            return failHoming(rc);
        if ((rc = setHome()) < 0)
            return failHoming(rc);
        if (!pauseMs(300, generation))
            return failHoming(-ECANCELED);
    }

    int result = 0;
    if (bounce.X > 0.01f) {
        int distance = 0;
        if (travelSteps(bounce.X + bounce.X, m_units.uscPerMM, distance) < 0)
            return failHoming(-EINVAL);
        if ((rc = setRamp(bounce)) < 0)
            return failHoming(rc);
        puts("Move Up ");
        result = moveFrom(bounce.X, true, true, generation);
        if (result != 0)
            return failHoming(result);
        if (!pauseMs(100, generation))
            return failHoming(-ECANCELED);
        puts("Move Down ");
        // Off the switch by now: one still closed is stuck, and the approach would never see it change.
        if ((rc = sampleSwitch(m_limitFd, &level)) < 0)
            return failHoming(rc);
        if (level != 1) {
            logger()->write(LogError, "Limit Switch Still Closed After Moving Up %f mm", static_cast<double>(bounce.X));
            return failHoming(-1);
        }
        if ((rc = approachSwitch(distance, level, generation)) != 0)
            return failHoming(rc);
    }

    if ((rc = writeRegister32(RegMode, 3)) < 0)
        return failHoming(rc);
    uint32_t actual = 0, latched = 0, target = 0;
    readRegister32(RegActual, &actual);
    readRegister32(RegLatch, &latched);
    readRegister32(RegTarget, &target);
    printf("ActualValue : %i, LatchValue: %i\n", static_cast<int32_t>(actual), static_cast<int32_t>(latched));
    fflush(stdout);
    if ((rc = setHome()) < 0)
        return failHoming(rc);
    if ((rc = writeRegister32(RegMode, 0)) < 0)
        return failHoming(rc);
    if ((rc = setRamp(approach)) < 0)
        return failHoming(rc);
    return result;
}
