// Qt is not built with the thread sanitizer: a QThread's end reaches the
// thread that waits for it through Qt's own futex-based mutex, which the
// sanitizer cannot see, so it takes the destruction of the finished thread's
// wait condition for a race.
#include "support/Sanitizers.h"

#ifdef TALVIKS_TEST_TSAN
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n";
}
#endif
