// Qt is not built with the thread sanitizer: a QThread's end reaches the
// thread that waits for it through Qt's own futex-based mutex, which the
// sanitizer cannot see, so it takes the destruction of the finished thread's
// wait condition for a race.
//
// The system manager lives until the process exits, and with it the update
// client: the client joins each of its threads before it starts the next,
// and the exit reaps the last one, which the sanitizer reports as a leak.
#include "support/Sanitizers.h"

#ifdef TALVIKS_TEST_TSAN
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "thread:nvupserver::UpdateServerImpl::restartThread\n";
}
#endif
