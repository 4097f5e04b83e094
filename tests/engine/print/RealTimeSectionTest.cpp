// The exposure's real-time section: raised where the system allows it, and
// the thread's own policy back afterwards either way.
#include "engine/print/RealTimeSection.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <thread>

namespace {

int currentPolicy()
{
    int policy = -1;
    sched_param param{};
    EXPECT_EQ(0, pthread_getschedparam(pthread_self(), &policy, &param));
    return policy;
}

} // namespace

TEST(RealTimeSection, RaisesOnlyForItsLifetime)
{
    // On a thread of its own: the test's main thread keeps its policy whatever happens.
    std::thread([] {
        const int before = currentPolicy();
        for (int round = 0; round < 2; ++round) {
            {
                const RealTimeSection section;
                EXPECT_EQ(section.granted() ? SCHED_FIFO : before, currentPolicy());
            }
            EXPECT_EQ(before, currentPolicy()) << "round " << round;
        }
    }).join();
}
