#include "base/platform/Clock.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

Clock::~Clock() = default;

timespec Clock::now() const
{
    return kernelMonotonicNow();
}

timespec Clock::recheckBy(const timespec& deadline) const
{
    return deadline;
}

timespec Clock::deadlineAfterMs(int64_t ms) const
{
    return kernelDeadlineAfterMs(ms);
}

timeval Clock::wallTime() const
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return tv;
}

int Clock::setWallTime(const timeval& tv)
{
    if (!rootPrefix().empty()) {
        logger()->write(LogWarn, "Clock: not setting the wall clock to %ld under the scratch root %s",
                                     static_cast<long>(tv.tv_sec), rootPrefix().c_str());
        return -EPERM;
    }
    return settimeofday(&tv, nullptr) == 0 ? 0 : -errno;
}

int64_t timespecToNs(const timespec& ts)
{
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec nsToTimespec(int64_t ns)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1000000000;
        --ts.tv_sec;
    }
    return ts;
}

timespec kernelMonotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

timespec kernelDeadlineAfterMs(int64_t ms)
{
    return nsToTimespec(timespecToNs(kernelMonotonicNow()) + ms * 1000000);
}

timespec peerDeadlineAfterMs(int64_t ms)
{
    const timespec machine = platform().clock().deadlineAfterMs(ms);
    const timespec real = kernelDeadlineAfterMs(ms);
    return timespecToNs(machine) > timespecToNs(real) ? machine : real;
}

void sleepUntil(const timespec& deadline)
{
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void sleepMachineMs(int64_t ms)
{
    sleepMachineMs(ms, [](const timespec& deadline) {
        sleepUntil(deadline);
        return true;
    });
}

bool sleepMachineMs(int64_t ms, const std::function<bool(const timespec&)>& sleep)
{
    const Clock& clock = platform().clock();
    const int64_t endNs = timespecToNs(clock.now()) + ms * 1000000;
    for (int64_t leftNs = ms * 1000000; leftNs > 0; leftNs = endNs - timespecToNs(clock.now())) {
        const timespec deadline = clock.deadlineAfterMs((leftNs + 999999) / 1000000);
        const timespec recheck = clock.recheckBy(deadline);
        if (!sleep(recheck))
            return false;
        // On a clock of steady pace the one sleep is the whole wait; on one
        // whose pace may change, the rest is worked out anew.
        if (timespecToNs(recheck) == timespecToNs(deadline))
            break;
    }
    return true;
}

tm buildTimeOf(const char* date, const char* time)
{
    tm broken{};
    char month[16] = {};
    sscanf(date, "%15s %d %d", month, &broken.tm_mday, &broken.tm_year);
    sscanf(time, "%d:%d:%d", &broken.tm_hour, &broken.tm_min, &broken.tm_sec);
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* found = strlen(month) == 3 ? strstr(kMonths, month) : nullptr;
    broken.tm_mon = found ? static_cast<int>(found - kMonths) / 3 : 0;
    broken.tm_year -= 1900;
    broken.tm_isdst = 0;
    return broken;
}
