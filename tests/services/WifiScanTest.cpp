#include "services/WifiScanParser.h"
#include "services/WifiScanner.h"

#include "support/RecordingShell.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>


#include <string>
#include <vector>

using testsupport::RecordingShell;

namespace {

// One cell as the scan tool prints it.
std::string cell(int number, const std::string& essidLine, const std::string& level, const std::string& key,
                 const std::string& suites = "")
{
    char heading[80];
    snprintf(heading, sizeof heading, "          Cell %02d - Address: 00:11:22:33:44:%02X\n", number, number);
    std::string text = heading;
    text += "                    Channel:6\n                    Frequency:2.437 GHz (Channel 6)\n";
    if (!level.empty())
        text += "                    Quality=50/70  Signal level=" + level + " dBm  \n";
    text += "                    Encryption key:" + key + "\n";
    text += "                    " + essidLine + "\n";
    text += "                    Bit Rates:54 Mb/s\n                    Mode:Master\n";
    if (!suites.empty())
        text += "                    IE: IEEE 802.11i/WPA2 Version 1\n"
                "                        Group Cipher : CCMP\n"
                "                        Pairwise Ciphers (1) : CCMP\n"
                "                        Authentication Suites (1) : " + suites + "\n";
    return text;
}

const std::string kHeading = "wlan0     Scan completed :\n";

std::string sampleScan()
{
    return kHeading + cell(1, "ESSID:\"Workshop\"", "-61", "on", "PSK") +
           cell(2, "ESSID:\"Cell 12\"", "-40", "off") +                      // a name that reads like a heading
           cell(3, "ESSID:\"\"", "-30", "off") +                             // hidden: left out
           cell(4, "ESSID:\"Caf\\xC3\\xA9 \\x5Cx41\"", "-61", "on") +         // escaped bytes, equal level
           cell(5, "ESSID:\"Workshop\"", "", "on", "PSK") +                  // no level, same name again
           cell(6, "ESSID:\"say \"hi\"\"", "-70", "off");                    // quotes inside the name
}

std::vector<std::string> names(const std::list<wifi_ap_t>& list)
{
    std::vector<std::string> result;
    for (const wifi_ap_t& ap : list)
        result.push_back(ap.essid);
    return result;
}

// An executable file under the scratch root; the real runner lets such stubs run.
std::string stubTool(const std::string& name, const std::string& script)
{
    const std::string path = testsupport::scratchRoot() + "/bin/" + name;
    testsupport::writeScript(path, script);
    return path;
}

} // namespace

TEST(WifiScanParser, ListsNamedCellsStrongestFirstWithTheirSecurity)
{
    const std::list<wifi_ap_t> list = parseWifiScan(sampleScan());
    ASSERT_EQ(names(list), (std::vector<std::string>{"Cell 12", "Workshop", "Caf\xC3\xA9 \\x41", "say \"hi\"",
                                                      "Workshop"}));
    auto it = list.begin();
    EXPECT_EQ(it->signal, -40.0f);
    EXPECT_EQ(it->auth, "None");
    EXPECT_FALSE(it->encrypted);
    EXPECT_EQ(it->security, "open");
    ++it;
    EXPECT_EQ(it->signal, -61.0f);
    EXPECT_EQ(it->auth, "PSK");
    EXPECT_TRUE(it->encrypted);
    EXPECT_EQ(it->security, "wpa");
    ++it;
    EXPECT_EQ(it->security, "wep");
    EXPECT_EQ(it->auth, "None");
    ++it;
    ++it;
    EXPECT_EQ(it->signal, -130.0f);
    EXPECT_EQ(it->security, "wpa");
}

TEST(WifiScanParser, SuitesDecideWpaWhateverTheKeySaysAndBadLevelsReadZero)
{
    const std::list<wifi_ap_t> list =
        parseWifiScan(cell(1, "ESSID:\"a\"", "-", "off", "802.1X") + cell(2, "ESSID:\"b\"", "-50", "onx"));
    ASSERT_EQ(names(list), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list.front().signal, 0.0f);
    EXPECT_EQ(list.front().security, "wpa");
    EXPECT_EQ(list.back().security, "open"); // "onx" is not "on"
}

TEST(WifiScanParser, TextWithoutCellHeadingsListsNothing)
{
    EXPECT_TRUE(parseWifiScan("").empty());
    EXPECT_TRUE(parseWifiScan("wlan0     No scan results\n").empty());
    // "Cell 1" not at the start of a line, and a heading's text without its address label.
    EXPECT_TRUE(parseWifiScan("x Cell 01 - Address: 1\nESSID:\"n\"\n  Cell 02 ESSID:\"m\"\n").empty());
    EXPECT_FALSE(hasWifiCells("ESSID:\"Cell 12 - Address: here\"\n"));
}

TEST(WifiScanParser, DecodesOnlyWholeHexEscapes)
{
    EXPECT_EQ(decodeEssid("\\x00\\x41\\xff"), std::string("\0A\xff", 3));
    EXPECT_EQ(decodeEssid("\\x4"), "\\x4");
    EXPECT_EQ(decodeEssid("\\xZZ\\"), "\\xZZ\\");
}

TEST(WifiScanner, RegistersItsTypesForQueuedSignals)
{
    WifiScanner scanner("/sbin/iwlist", "wlan0");
    EXPECT_NE(QMetaType::type("wifi_ap_t"), 0);
    EXPECT_NE(QMetaType::type("std::list<wifi_ap_t>"), 0);
}

TEST(WifiScanner, ReportsEachWayTheToolCanFailWithAnEmptyList)
{
    RecordingShell shell;
    const std::string tool = stubTool("iwlist", "#!/bin/sh\nexit 0\n");
    std::list<wifi_ap_t> list{wifi_ap_t()};

    EXPECT_EQ(WifiScanner(tool + "-missing", "wlan0").scanWifi(list), WifiScanner::kToolNotExecutable);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(shell.commands().empty());

    WifiScanner scanner(tool, "wlan0");
    const std::pair<RunResult, int> cases[] = {
        {RecordingShell::notStarted(), WifiScanner::kToolNotStarted},
        {RecordingShell::overran(sampleScan()), WifiScanner::kOutputUnreadable},
        {RecordingShell::exited(255, "", "wlan0     Interface doesn't support scanning.\n"), WifiScanner::kToolFailed},
        {RecordingShell::exited(1, sampleScan()), WifiScanner::kToolFailed},
        {RecordingShell::exited(0, "", "wlan0     Interface doesn't support scanning : Network is down\n"),
         WifiScanner::kToolFailed},
        {RecordingShell::exited(0, "wlan0     No scan results\n"), 0},
    };
    for (const auto& c : cases) {
        shell.scriptRun(tool, c.first);
        list.assign(1, wifi_ap_t());
        EXPECT_EQ(scanner.scanWifi(list), c.second) << c.first.errors;
        EXPECT_TRUE(list.empty());
    }
    shell.scriptRun(tool, RecordingShell::exited(0, sampleScan()));
    EXPECT_EQ(scanner.scanWifi(list), 0);
    EXPECT_EQ(list.size(), 5u);
    ASSERT_FALSE(shell.timedRuns().empty());
    EXPECT_EQ(shell.timedRuns().back().argv, (std::vector<std::string>{tool, "wlan0", "scan"}));
}

TEST(WifiScanner, ReadsARealToolsOutputUpToItsCap)
{
    SKIP_WITHOUT_SANDBOX();
    // 3 MiB of blank lines after the cells: read up to the cap, the rest dropped.
    const std::string scan = stubTool("scan.txt", sampleScan());
    const std::string tool = stubTool("scanner", "#!/bin/sh\ncat " + scan + "\nhead -c 3145728 /dev/zero | tr '\\0' '\\n'\n");
    std::list<wifi_ap_t> list;
    EXPECT_EQ(WifiScanner(tool, "wlan0").scanWifi(list), 0);
    EXPECT_EQ(list.size(), 5u);
}

TEST(WifiScanner, AnInterfaceWithoutWirelessIsAFailureNotAnEmptyList)
{
    SKIP_WITHOUT_SANDBOX();
    RUN_IN_TEST_NAMESPACES([] {
        const std::string tool = testsupport::scratchRoot() + "/bin/iwlist";
        testsupport::makeDirs(testsupport::scratchRoot() + "/bin");
        ASSERT_EQ(testsupport::runInsideTestNamespaces("cp /sbin/iwlist " + tool), 0);
        std::list<wifi_ap_t> list;
        testing::internal::CaptureStdout();
        EXPECT_EQ(WifiScanner(tool, "lo").scanWifi(list), WifiScanner::kToolFailed);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("doesn't support scanning"), std::string::npos);
        EXPECT_TRUE(list.empty());
    });
}
