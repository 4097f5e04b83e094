// The time tests' NTP server: real chronyd, never allowed to set a clock.
#include "support/TestChronyd.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(TestChronyd, ServesTimeInTheTestNamespacesWithoutTouchingAClock)
{
    EXPECT_FALSE(testsupport::TestChronyd(12300).serving()) << "outside the test namespaces";
    RUN_IN_TEST_NAMESPACES([] {
        testsupport::TestChronyd chronyd(123, 9);
        ASSERT_TRUE(chronyd.serving()) << chronyd.why();
        EXPECT_NE(std::string::npos, chronyd.commandLine().find(" -x "));
        EXPECT_EQ(9, testsupport::askNtpServer(123, 2000));
        // No command socket, where a host's chronyd keeps its own.
        EXPECT_FALSE(testsupport::fileExists("/run/chrony/chronyd.sock"));
    });
}
