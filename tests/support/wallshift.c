/* Preloaded into a child test process: every reading of the wall clock is
 * shifted by an offset the test can step at will, while the monotonic clock
 * and the kernel's own clocks stay untouched. Code that waits or measures on
 * the wall clock then visibly misbehaves; the host's clock is never changed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdatomic.h>
#include <sys/time.h>
#include <time.h>

/* With a 64-bit time_t on a 32-bit machine the C library's headers rename
 * these functions (so the definitions below take the 64-bit names); the real
 * ones must be looked up under the same names. */
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
#define REAL_CLOCK_GETTIME "__clock_gettime64"
#define REAL_GETTIMEOFDAY "__gettimeofday64"
#else
#define REAL_CLOCK_GETTIME "clock_gettime"
#define REAL_GETTIMEOFDAY "gettimeofday"
#endif

static _Atomic long g_shift;

void wallshift_step(long seconds)
{
    atomic_fetch_add(&g_shift, seconds);
}

int clock_gettime(clockid_t id, struct timespec* ts)
{
    static int (*real)(clockid_t, struct timespec*);
    if (!real)
        real = (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, REAL_CLOCK_GETTIME);
    int rc = real(id, ts);
    if (rc == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE))
        ts->tv_sec += atomic_load(&g_shift);
    return rc;
}

int gettimeofday(struct timeval* tv, void* tz)
{
    static int (*real)(struct timeval*, void*);
    if (!real)
        real = (int (*)(struct timeval*, void*))dlsym(RTLD_NEXT, REAL_GETTIMEOFDAY);
    int rc = real(tv, tz);
    if (rc == 0)
        tv->tv_sec += atomic_load(&g_shift);
    return rc;
}

time_t time(time_t* out)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (out)
        *out = ts.tv_sec;
    return ts.tv_sec;
}
