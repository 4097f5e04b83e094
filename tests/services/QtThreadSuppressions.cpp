// Qt is not built with the thread sanitizer: a QThread's end reaches the
// thread that waits for it through Qt's own futex-based mutex, which the
// sanitizer cannot see. So it takes for races what that end does before the
// waiter goes on: the destruction of the finished thread's wait condition,
// and the finished() signal's look at the worker's meta-object while the
// waiter (a busy host lets it catch up) already destroys the worker.
//
// The system manager lives until the process exits, and with it the update
// client: the client joins each of its threads before it starts the next,
// and the exit reaps the last one, which the sanitizer reports as a leak.
#include "support/Sanitizers.h"

#ifdef TALVIKS_TEST_TSAN
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:WorkThread::metaObject\n"
           "thread:nvupserver::UpdateServerImpl::restartThread\n";
}
#endif
