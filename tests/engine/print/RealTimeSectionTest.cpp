// The exposure's real-time section: raised where the system allows it, and
// the thread's own policy back afterwards either way; where it is refused,
// every print says so.
#include "engine/print/RealTimeSection.h"

#include "engine/print/PrintThread.h"
#include "engine/print/PrinterHarness.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

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

namespace {

// Makes the system refuse SCHED_FIFO to the calling thread and the threads it
// starts, as it does to an unprivileged user: CAP_SYS_NICE leaves the
// thread's effective set, and the process's soft real-time limit is 0 until
// the object goes (the thread's capabilities go with the thread).
class RealTimeRefused
{
public:
    RealTimeRefused()
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        EXPECT_EQ(0, syscall(SYS_capget, &header, data));
        data[CAP_TO_INDEX(CAP_SYS_NICE)].effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
        EXPECT_EQ(0, syscall(SYS_capset, &header, data));
        EXPECT_EQ(0, getrlimit(RLIMIT_RTPRIO, &m_limit));
        rlimit none = m_limit;
        none.rlim_cur = 0;
        EXPECT_EQ(0, setrlimit(RLIMIT_RTPRIO, &none));
    }
    ~RealTimeRefused() { setrlimit(RLIMIT_RTPRIO, &m_limit); }

private:
    rlimit m_limit{};
};

} // namespace

TEST(RealTimeSection, EveryPrintWithoutItSaysSoAtItsStart)
{
    Printer* printer = harness::startPrinter();
    const QString path = QString::fromStdString(harness::writeSvgx("refused", 2, 0, 0, 1, 1));
    const char* const warning = "Exposure timing without real-time priority: SCHED_FIFO refused";
    // On a thread of its own, which the print threads inherit their rights from.
    std::thread([&] {
        const RealTimeRefused refused;
        for (size_t print = 1; print <= 2; ++print) {
            ASSERT_EQ(0, printer->print(path));
            ASSERT_TRUE(harness::waitUntilFinished(printer));
            ASSERT_STREQ("0", printer->getPrintExitValue());
            EXPECT_EQ(2, printer->printThread()->exposuresWithoutRealTime());
            EXPECT_EQ(EPERM, printer->printThread()->realTimeRefusal());
            EXPECT_EQ(print, harness::logLines(warning).size());
        }
    }).join();
    // Each print's warning comes before its first exposure.
    const auto lines = harness::logLines("");
    std::vector<std::string> order;
    for (const auto& line : lines)
        if (line.find(warning) != std::string::npos)
            order.push_back("warning");
        else if (line.find("waitExpose") != std::string::npos && line.find("Layer[0]") != std::string::npos)
            order.push_back("first exposure");
    EXPECT_EQ((std::vector<std::string>{"warning", "first exposure", "warning", "first exposure"}), order);
}
