// The worker's connect jobs against stub network programs: command lines,
// results on success, failure and overrun, the configuration files they
// leave, the network lock and the end of a worker whose job still runs.
#include "WorkThreadFixture.h"

#include "base/files/Utils.h"
#include "support/Sanitizers.h"
#include "support/TestSupport.h"

#include <sys/stat.h>

#include <memory>

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::splitLines;
using testsupport::writeFile;
using Calls = std::vector<std::string>;
using Connect = std::pair<NetResult, NetType>;

namespace {

std::string wifiCfg()
{
    return scratchRoot() + "/data/etc/wifi.cfg";
}

std::string hostapdConf()
{
    return scratchRoot() + "/data/tmp/hostapd.conf";
}

std::string wpaCommand()
{
    return "wpa_supplicant -d -Dwext -i wlan0 -c " + wifiCfg() + " -B";
}

// The hung stubs are gone: killed with their process group, not left behind.
void expectNoHungStubLeft()
{
    for (const std::string& sleep : splitLines(readFile(WorkThreadTest::stubDir() + "/hung")))
        EXPECT_TRUE(testsupport::eventually([&] { return !testsupport::processWithArgument(sleep); }, 10000))
            << "sleep " << sleep;
}

} // namespace

TEST_F(WorkThreadTest, EthernetBringsTheLinkUpThenAsksForItsAddress)
{
    SKIP_WITHOUT_SANDBOX();
    struct Case
    {
        NetType type;
        std::vector<std::string> udhcpcModes;
        Calls calls;
        NetResult result;
    };
    const Case cases[] = {
        {NET_ETH_DHCP, {}, {"ifconfig eth0 up", "udhcpc -i eth0"}, NET_RESULT_OK},
        {NET_ETH_STATIC, {}, {"ifconfig eth0 up", "ifconfig eth0 10.33.23.230 netmask 255.255.255.0"}, NET_RESULT_OK},
        // No address command for a Wi-Fi type: the step fails.
        {NET_WIFI, {}, {"ifconfig eth0 up"}, NET_RESULT_ERROR},
        {NET_ETH_DHCP, {"fail"}, {"ifconfig eth0 up", "udhcpc -i eth0"}, NET_RESULT_ERROR},
        {NET_ETH_DHCP, {"hang"}, {"ifconfig eth0 up", "udhcpc -i eth0"}, NET_RESULT_TIMEOUT},
    };
    for (const Case& c : cases) {
        writeFile(stubDir() + "/calls", "");
        setModes("udhcpc", c.udhcpcModes);
        WorkThread worker;
        worker.setCommandLimits(10000, kStubFinishLimitMs);
        JobSignals emitted(worker);
        worker.setNetType(c.type);
        runJob(worker, WorkThread::JOB_ETHERNET);
        EXPECT_EQ(c.calls, calls());
        EXPECT_EQ((std::vector<Connect>{{c.result, c.type}}), emitted.connects.all());
    }
    expectNoHungStubLeft();
}

TEST_F(WorkThreadTest, WifiJoinRunsTheDaemonAndTriesTheAddressTwice)
{
    SKIP_WITHOUT_SANDBOX();
    const Calls full{"ifconfig wlan0 up", wpaCommand(), "udhcpc -i wlan0"};
    const Calls retried{"ifconfig wlan0 up", wpaCommand(), "udhcpc -i wlan0", "udhcpc -i wlan0"};
    struct Case
    {
        std::vector<std::string> wpaModes, udhcpcModes;
        Calls calls;
        NetResult result;
    };
    const Case cases[] = {
        {{}, {}, full, NET_RESULT_OK},
        // A first address request that overruns is killed; the second may still bring the network up.
        {{}, {"hang", "ok"}, retried, NET_RESULT_OK},
        {{}, {"fail", "hang"}, retried, NET_RESULT_TIMEOUT},
        {{}, {"fail", "fail"}, retried, NET_RESULT_ERROR},
        {{"fail"}, {}, {"ifconfig wlan0 up", wpaCommand()}, NET_RESULT_ERROR},
    };
    writeFile(wifiCfg(), "the user's network\n");
    for (const Case& c : cases) {
        writeFile(stubDir() + "/calls", "");
        setModes("wpa_supplicant", c.wpaModes);
        setModes("udhcpc", c.udhcpcModes);
        WorkThread worker;
        worker.setCommandLimits(10000, kStubFinishLimitMs);
        worker.setNetType(NET_WIFI);
        JobSignals emitted(worker);
        runJob(worker, WorkThread::JOB_WIFI_CONNECT);
        EXPECT_EQ(c.calls, calls());
        EXPECT_EQ((std::vector<Connect>{{c.result, NET_WIFI}}), emitted.connects.all());
        // A network that is away today keeps its configuration for the next start.
        EXPECT_EQ("the user's network\n", readFile(wifiCfg()));
    }
    expectNoHungStubLeft();
}

TEST_F(WorkThreadTest, WifiConfigurationIsWrittenThenJoined)
{
    SKIP_WITHOUT_SANDBOX();
    WorkThread worker;
    worker.setNetType(NET_WIFI);
    JobSignals emitted(worker);
    worker.setWifiInfo("Home", "correct horse", "WPA2");
    runJob(worker, WorkThread::JOB_WIFI_CONFIG);
    EXPECT_EQ((Calls{"ifconfig wlan0 up", wpaCommand(), "udhcpc -i wlan0"}), calls());
    EXPECT_EQ((std::vector<Connect>{{NET_RESULT_OK, NET_WIFI}}), emitted.connects.all());
    EXPECT_EQ("ctrl_interface=/var/run/wpa_supplicant\nupdate_config=1\nctrl_interface_group=root\nap_scan=1\n"
              "fast_reauth=1\nnetwork={\nssid=486f6d65\npsk=\"correct horse\"\n"
              "key_mgmt=WPA-PSK WPA-EAP NONE\ngroup=CCMP TKIP WEP104 WEP40\npairwise=CCMP TKIP\n}\n",
              readFile(wifiCfg()));
    struct stat info{};
    ASSERT_EQ(0, stat(wifiCfg().c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777) << "the file holds a password";
}

TEST_F(WorkThreadTest, AFailedJoinPutsTheLastGoodConfigurationBack)
{
    setDefaultMode("wpa_supplicant", "fail");
    WorkThread worker;
    JobSignals emitted(worker);
    worker.setWifiInfo("Cafe", "", "open");

    // No file before: none after.
    runJob(worker, WorkThread::JOB_WIFI_CONFIG);
    EXPECT_FALSE(fileExists(wifiCfg()));

    writeFile(wifiCfg(), "last good\n");
    runJob(worker, WorkThread::JOB_WIFI_CONFIG);
    EXPECT_EQ("last good\n", readFile(wifiCfg()));
    EXPECT_EQ(2u, emitted.connects.all().size());
    for (const Connect& result : emitted.connects.all())
        EXPECT_EQ(NET_RESULT_ERROR, result.first);
}

TEST_F(WorkThreadTest, RefusedOrUnwritableConfigurationTouchesNothing)
{
    struct Case
    {
        const char* ssid;
        const char* password;
        const char* security;
        int job;
    };
    const Case refused[] = {
        {"Home", "short", "wpa", WorkThread::JOB_WIFI_CONFIG},
        {"Home", "line\nbreak-in-it", "wpa", WorkThread::JOB_WIFI_CONFIG},
        {"Home", "123456", "WEP", WorkThread::JOB_WIFI_CONFIG},
        {"", "", "open", WorkThread::JOB_WIFI_CONFIG},
        {"Spot\nwpa=0", "", "", WorkThread::JOB_HOTSPOT},
        {"Spot", "1234567", "", WorkThread::JOB_HOTSPOT},
    };
    writeFile(wifiCfg(), "last good\n");
    for (const Case& c : refused) {
        WorkThread worker;
        JobSignals emitted(worker);
        worker.setWifiInfo(c.ssid, c.password, c.security);
        runJob(worker, c.job);
        EXPECT_EQ((std::vector<Connect>{{NET_RESULT_ERROR, NET_DISCONNECTED}}), emitted.connects.all()) << c.password;
    }
    EXPECT_EQ(Calls{}, calls());
    EXPECT_EQ("last good\n", readFile(wifiCfg()));
    EXPECT_FALSE(fileExists(hostapdConf()));

    // A file that cannot be written never leads to a join with an old one.
    testsupport::makeDirs(hostapdConf() + "/in-the-way");
    Utils::removeFile("/data/etc/wifi.cfg");
    testsupport::makeDirs(wifiCfg() + "/in-the-way");
    WorkThread worker;
    JobSignals emitted(worker);
    worker.setWifiInfo("Home", "correct horse", "wpa");
    runJob(worker, WorkThread::JOB_WIFI_CONFIG);
    worker.setNetType(NET_HOTSPOT);
    runJob(worker, WorkThread::JOB_HOTSPOT);
    EXPECT_EQ((std::vector<Connect>{{NET_RESULT_ERROR, NET_DISCONNECTED}, {NET_RESULT_ERROR, NET_HOTSPOT}}),
              emitted.connects.all());
    for (const std::string& call : calls())
        EXPECT_EQ(std::string::npos, call.find("wpa_supplicant")) << call;
    for (const std::string& call : calls())
        EXPECT_EQ(std::string::npos, call.find("hostapd")) << call;
}

TEST_F(WorkThreadTest, HotspotWritesItsFileAndStartsTheServers)
{
    SKIP_WITHOUT_SANDBOX();
    const Calls sequence{"ifconfig wlan0 up", "ifconfig wlan0 up", "ifconfig wlan0 192.168.0.1",
                         "udhcpd " + scratchRoot() + "/etc/udhcpd.conf", "hostapd " + hostapdConf() + " -B"};
    WorkThread worker;
    worker.setCommandLimits(10000, kStubFinishLimitMs);
    worker.setNetType(NET_HOTSPOT);
    JobSignals emitted(worker);

    worker.setWifiInfo("Printer \"lab\" {1}", "", "");
    runJob(worker, WorkThread::JOB_HOTSPOT);
    EXPECT_EQ(sequence, calls());
    EXPECT_EQ("ssid=Printer \"lab\" {1}\nhw_mode=g\nchannel=1\ninterface=wlan0\n#bridge=br0\n#driver=nl80211\n"
              "ignore_broadcast_ssid=0\nmacaddr_acl=0\n",
              readFile(hostapdConf()));

    worker.setWifiInfo("Drucker-Büro", "geheim123", "");
    runJob(worker, WorkThread::JOB_HOTSPOT);
    EXPECT_EQ("ssid=Drucker-B\xc3\xbcro\nhw_mode=g\nchannel=1\ninterface=wlan0\n#bridge=br0\n#driver=nl80211\n"
              "ignore_broadcast_ssid=0\nmacaddr_acl=0\nwpa_passphrase=geheim123\nwpa=2\nwpa_key_mgmt=WPA-PSK\n"
              "#wpa_pairwise=TKIP CCMP\nrsn_pairwise=TKIP CCMP\n",
              readFile(hostapdConf()));

    // An overrun of the preliminary link-up does not count; one of the servers does.
    setModes("ifconfig", {"hang"});
    setModes("hostapd", {"fail"});
    runJob(worker, WorkThread::JOB_HOTSPOT);
    setModes("hostapd", {"hang"});
    runJob(worker, WorkThread::JOB_HOTSPOT);
    EXPECT_EQ((std::vector<Connect>{{NET_RESULT_OK, NET_HOTSPOT},
                                    {NET_RESULT_OK, NET_HOTSPOT},
                                    {NET_RESULT_ERROR, NET_HOTSPOT},
                                    {NET_RESULT_TIMEOUT, NET_HOTSPOT}}),
              emitted.connects.all());
    expectNoHungStubLeft();
}

TEST_F(WorkThreadTest, PasswordsNeverReachTheLog)
{
    SKIP_WITHOUT_SANDBOX();
    // The daemons fail and print their configuration, passwords included.
    setDefaultMode("wpa_supplicant", "cat");
    setDefaultMode("hostapd", "cat");
    const QString passwords[] = {"Sup3r-Secret!", "geheim-hotspot"};
    WorkThread worker;
    worker.setWifiInfo("Home", passwords[0], "wpa");
    runJob(worker, WorkThread::JOB_WIFI_CONFIG);
    worker.setWifiInfo("Spot", passwords[1], "");
    runJob(worker, WorkThread::JOB_HOTSPOT);

    const std::string log = logged();
    EXPECT_NE(std::string::npos, log.find("wifiName=Home  pass=********")) << log;
    EXPECT_NE(std::string::npos, log.find("Process output:")) << log;
    for (const QString& password : passwords)
        EXPECT_EQ(std::string::npos, log.find(password.toStdString())) << log;
}

TEST_F(WorkThreadTest, NetworkJobsOfSeveralWorkersRunOneAtATime)
{
    SKIP_WITHOUT_SANDBOX();
    setDefaultMode("ifconfig", "slow");
    std::vector<std::unique_ptr<WorkThread>> workers;
    for (NetType type : {NET_ETH_STATIC, NET_ETH_STATIC, NET_ETH_STATIC})
        workers.emplace_back(new WorkThread)->setNetType(type);
    for (auto& worker : workers)
        worker->startJob(WorkThread::JOB_ETHERNET);
    for (auto& worker : workers)
        ASSERT_TRUE(worker->wait(60000));
    const std::string up = "ifconfig eth0 up";
    const std::string address = "ifconfig eth0 10.33.23.230 netmask 255.255.255.0";
    EXPECT_EQ((Calls{up, address, up, address, up, address}), calls());
}

TEST_F(WorkThreadTest, DestroyingARunningWorkerStopsItsCommandAndWaits)
{
    SKIP_WITHOUT_SANDBOX();
    setModes("udhcpc", {"hang"});
    auto worker = std::make_unique<WorkThread>(); // default limits: far longer than this test
    JobSignals emitted(*worker);
    worker->setNetType(NET_ETH_DHCP);
    worker->startJob(WorkThread::JOB_ETHERNET);
    ASSERT_TRUE(testsupport::eventually([] { return fileExists(WorkThreadTest::stubDir() + "/hung"); }, 20000));

    const long long started = testsupport::monotonicMs();
    worker.reset();
    EXPECT_LT(testsupport::monotonicMs() - started, 15000);
    expectNoHungStubLeft();
    EXPECT_EQ((std::vector<Connect>{{NET_RESULT_ERROR, NET_ETH_DHCP}}), emitted.connects.all());
}

TEST_F(WorkThreadTest, AWorkerWaitingForTheNetworkLockCanBeDestroyed)
{
    SKIP_WITHOUT_SANDBOX();
    if (testsupport::kThreadSanitizer)
        GTEST_SKIP() << "Qt's thread end is not instrumented: ThreadSanitizer cannot see that the worker's last "
                        "writes came before its destruction";
    setModes("ifconfig", {"hang"});
    WorkThread running; // default limits: it holds the lock far longer than this test
    JobSignals first(running);
    running.setNetType(NET_ETH_STATIC);
    running.startJob(WorkThread::JOB_ETHERNET);
    ASSERT_TRUE(testsupport::eventually([] { return fileExists(WorkThreadTest::stubDir() + "/hung"); }, 20000));

    auto waiting = std::make_unique<WorkThread>();
    JobSignals second(*waiting);
    waiting->setNetType(NET_ETH_DHCP);
    waiting->startJob(WorkThread::JOB_ETHERNET);
    // A second start while it runs changes nothing.
    waiting->startJob(WorkThread::JOB_ETHERNET);
    const long long started = testsupport::monotonicMs();
    waiting.reset();
    EXPECT_LT(testsupport::monotonicMs() - started, 15000);
    EXPECT_EQ((std::vector<Connect>{{NET_RESULT_ERROR, NET_ETH_DHCP}}), second.connects.all());
    EXPECT_EQ(Calls{"ifconfig eth0 up"}, calls()) << "the waiting job ran no command";

    running.stop();
    ASSERT_TRUE(running.wait(15000));
    EXPECT_EQ((std::vector<Connect>{{NET_RESULT_ERROR, NET_ETH_STATIC}}), first.connects.all());
    expectNoHungStubLeft();
}

TEST_F(WorkThreadTest, UnknownJobNumbersEndAtOnceWithoutASignal)
{
    WorkThread worker;
    JobSignals emitted(worker);
    for (int job : {0, 8, 12, -1})
        runJob(worker, job);
    EXPECT_EQ(0u, emitted.total());
    EXPECT_EQ(Calls{}, calls());
}
