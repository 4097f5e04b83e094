// The worker's Wi-Fi scan on a stub scan tool, and its NTP job against a
// real time server in the test's own namespaces.
#include "WorkThreadFixture.h"

#include "services/SystemManager.h"
#include "support/RecordingClock.h"
#include "support/RecordingShell.h"
#include "support/TestChronyd.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"


using testsupport::scratchRoot;
using testsupport::writeFile;

TEST_F(WorkThreadTest, WifiScanListsTheNetworksAndTriesAgainWhenNoneCame)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string tool = scratchRoot() + "/sbin/iwlist";
    testsupport::writeScript(tool, "#!/bin/sh\necho \"iwlist $*\" >> '" + stubDir() + "/calls'\ncat '" + stubDir() +
                                       "/scan' 2>/dev/null\nexit 0\n");
    WorkThread worker;
    JobSignals emitted(worker);

    writeFile(stubDir() + "/scan", "wlan0     Scan completed :\n"
                                   "          Cell 01 - Address: 00:11:22:33:44:01\n"
                                   "                    Quality=50/70  Signal level=-70 dBm\n"
                                   "                    Encryption key:off\n"
                                   "                    ESSID:\"Far\"\n"
                                   "          Cell 02 - Address: 00:11:22:33:44:02\n"
                                   "                    Quality=60/70  Signal level=-40 dBm\n"
                                   "                    Encryption key:on\n"
                                   "                    ESSID:\"Near\"\n");
    runJob(worker, WorkThread::JOB_WIFI_SCAN);
    EXPECT_EQ((std::vector<std::string>{"ifconfig wlan0 up", "iwlist wlan0 scan"}), calls());
    EXPECT_EQ((std::vector<std::string>{"Near", "Far"}), emitted.scans.all().back());

    writeFile(stubDir() + "/calls", "");
    writeFile(stubDir() + "/scan", "wlan0     No scan results\n");
    runJob(worker, WorkThread::JOB_WIFI_SCAN);
    EXPECT_EQ((std::vector<std::string>{"ifconfig wlan0 up", "iwlist wlan0 scan", "iwlist wlan0 scan"}), calls());
    EXPECT_EQ((std::vector<int>{0, 0}), emitted.scanResults.all());
    EXPECT_EQ(std::vector<std::string>{}, emitted.scans.all().back());
}

TEST_F(WorkThreadInNamespaces, NtpJobSetsTheClockFromATimeServerAndReportsOnlySuccess)
{
    SystemManager* manager = SystemManager::instance();
    const auto body = [&] {
        openLog();
        testsupport::TestChronyd chronyd(123, 10);
        ASSERT_TRUE(chronyd.serving()) << chronyd.why();
        testsupport::RecordingClock clock;
        testsupport::RecordingShell shell; // the hardware clock tool, where the host has a clock device
        WorkThread worker;
        JobSignals emitted(worker);

        // Nothing answers on the first address of the namespace's loopback.
        manager->setNtpServers({"127.0.0.2", "127.0.0.1"});
        runJob(worker, WorkThread::JOB_NTP_TIME);
        EXPECT_EQ(1u, emitted.ntpFinished.count());
        ASSERT_EQ(1u, clock.settings().size());
        EXPECT_NEAR(static_cast<double>(clock.settings()[0].tv_sec), static_cast<double>(time(nullptr)), 5.0);

        manager->setNtpServers({"127.0.0.2"});
        runJob(worker, WorkThread::JOB_NTP_TIME);
        EXPECT_EQ(1u, emitted.ntpFinished.count());
        EXPECT_EQ(1u, clock.settings().size());
        EXPECT_NE(std::string::npos, logged().find("updateNTPTime failed"));
    };
    RUN_IN_TEST_NAMESPACES(body);
}
