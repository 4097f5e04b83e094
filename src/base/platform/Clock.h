#pragma once

#include <cstdint>
#include <functional>
#include <ctime>
#include <sys/time.h>

// The machine's time. Waits and stopwatches run on a monotonic clock so that
// setting the wall clock (start-up moves it ten years ahead, time sync moves
// it back) never stretches or cuts them. Setting the wall clock goes through
// here as well, so tests and the simulator record it instead of touching the
// host. The simulator installs a clock that runs faster than real time.
// The clock in use is platform().clock() (Platform.h).
class Clock
{
public:
    virtual ~Clock();

    // Monotonic machine time.
    virtual timespec now() const;
    // The CLOCK_MONOTONIC instant at which `ms` milliseconds of machine time
    // will have passed; every timed wait of the system sleeps until such an instant.
    virtual timespec deadlineAfterMs(int64_t ms) const;
    // The instant by which a sleep towards `deadline` (one of this clock's)
    // looks at the clock again: a clock whose pace may change wakes its
    // sleepers to work their instants out anew. Here, the deadline itself.
    virtual timespec recheckBy(const timespec& deadline) const;
    // Wall-clock time.
    virtual timeval wallTime() const;
    // Sets the wall clock; 0 or a negative errno. Refused with -EPERM under a
    // scratch root, so that no test moves the host's clock.
    virtual int setWallTime(const timeval& tv);
};

int64_t timespecToNs(const timespec& ts);
timespec nsToTimespec(int64_t ns);

// Reads CLOCK_MONOTONIC as the kernel sees it (not scaled by any installed clock).
timespec kernelMonotonicNow();
// The CLOCK_MONOTONIC instant `ms` milliseconds of real time from now, for
// waits on peers that run in real time whatever clock is installed.
timespec kernelDeadlineAfterMs(int64_t ms);

// The CLOCK_MONOTONIC instant at which a peer at the far end of a link has
// had `ms` milliseconds both of machine time and of real time to answer: a
// chip answers in real time however fast the machine clock runs (so does a
// simulated one, on a thread of a busy host), and a slow machine clock
// stretches the wait like any other. With the system clock it is
// deadlineAfterMs.
timespec peerDeadlineAfterMs(int64_t ms);

// Sleeps until a CLOCK_MONOTONIC instant, resuming after every signal.
void sleepUntil(const timespec& deadline);
// Sleeps `ms` milliseconds of machine time, resuming after every signal.
void sleepMachineMs(int64_t ms);
// The same through `sleep`, a sleep until a CLOCK_MONOTONIC instant that
// says whether to go on; false when it gave up.
bool sleepMachineMs(int64_t ms, const std::function<bool(const timespec&)>& sleep);

// The calendar time of the compiler's __DATE__ ("Mmm dd yyyy") and __TIME__
// ("hh:mm:ss") texts, for mktime or timegm; an unknown month reads as January.
tm buildTimeOf(const char* date, const char* time);
