// The Wi-Fi configuration texts, read back by the real station and access
// point daemons inside the test's own namespaces: what they parse is exactly
// what the user typed, and hostile names or passwords add nothing.
#include "services/WifiConfigText.h"

#include "base/platform/Shell.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using testsupport::runInsideTestNamespaces;
using testsupport::scratchRoot;
using testsupport::splitLines;
using testsupport::writeFile;

namespace {

// What the station daemon made of a configuration file (its debug trace
// with keys shown).
struct StationParse
{
    bool ok = false;
    int networks = 0;
    std::string ssidHex, pskHex, wepKeyHex;
    std::string trace;
};

std::string hexOf(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// The hexadecimal pairs of a trace line after `from`, blanks removed.
std::string pairsAfter(const std::string& line, size_t from, size_t upTo = std::string::npos)
{
    std::string hex;
    std::istringstream words(line.substr(from, upTo));
    std::string word;
    while (words >> word && word.size() == 2 && isxdigit(static_cast<unsigned char>(word[0])))
        hex += word;
    return hex;
}

StationParse parseStation(const std::string& text)
{
    const std::string file = scratchRoot() + "/wifi.cfg";
    writeFile(file, text);
    StationParse parse;
    // The interface does not exist: the daemon reads its configuration and gives up.
    runInsideTestNamespaces("wpa_supplicant -dd -K -Dwext -i nosuch0 -c " + shellQuote(file) + " 2>&1",
                            &parse.trace);
    const std::vector<std::string> lines = splitLines(parse.trace);
    parse.ok = parse.trace.find("Failed to read or parse") == std::string::npos &&
               parse.trace.find("Reading configuration file") != std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.find("start of a new network block") != std::string::npos)
            ++parse.networks;
        if (line.compare(0, 24, "ssid - hexdump_ascii(len") == 0)
            // Rows of up to 16 bytes, five blanks in front, the text after them.
            for (size_t j = i + 1; j < lines.size() && lines[j].compare(0, 5, "     ") == 0; ++j)
                parse.ssidHex += pairsAfter(lines[j], 5, 48);
        for (const char* label : {"PSK (from passphrase) - hexdump(len=32):", "PSK - hexdump(len=32):"})
            if (line.compare(0, strlen(label), label) == 0)
                parse.pskHex = pairsAfter(line, strlen(label));
        const std::string wep = "wep_key0 - hexdump(len=";
        if (line.compare(0, wep.size(), wep) == 0)
            parse.wepKeyHex = pairsAfter(line, line.find(':') + 1);
    }
    return parse;
}

// The key the standard tool derives from a passphrase.
std::string referencePsk(const std::string& ssid, const std::string& passphrase)
{
    std::string out;
    runInsideTestNamespaces("wpa_passphrase " + shellQuote(ssid) + " " + shellQuote(passphrase), &out);
    for (const std::string& line : splitLines(out))
        if (line.compare(0, 5, "\tpsk=") == 0)
            return line.substr(5);
    return "";
}

// The access point daemon's complaints about a configuration file; empty when it took it.
std::string hotspotComplaints(const std::string& text)
{
    const std::string file = scratchRoot() + "/hostapd.conf";
    writeFile(file, text);
    std::string trace;
    runInsideTestNamespaces("hostapd -dd " + shellQuote(file) + " 2>&1", &trace);
    if (trace.find("Configuration file: ") == std::string::npos)
        return "not read: " + trace;
    std::string complaints;
    for (const std::string& line : splitLines(trace))
        if (line.compare(0, 5, "Line ") == 0 || line.find("errors found") != std::string::npos)
            complaints += line + "\n";
    return complaints;
}

} // namespace

TEST(WifiConfigText, StationDaemonReadsBackExactlyWhatWasTyped)
{
    struct Case
    {
        std::string ssid, password, security;
    };
    const Case cases[] = {
        {"Home Net", "", "OPEN"},
        {"Cafe", "ab#de", "wep"},
        {"Cafe", "a\"b#c", "WEP"},              // a text key the quoted form cannot carry
        {"Cafe", "0123456789abcdef0123456789", "wep"},
        {"Office", "correct horse", "WPA2"},
        {"Office", "ab\"c#def gh ", ""},           // a double quote, then a comment sign
        {"Office", std::string(64, 'a'), "wpa"}, // a key, not a passphrase
        {"Caf\xc3\xa9 \"x\" {}", "12345678", "wpa"},
        // Names that would raise the network's priority, or close its block and open another.
        {"e\"\npriority=100\nscan_ssid=1\n#", "12345678", "wpa"},
        {"x\"\n}\nnetwork={\nssid=\"evil\"\n#", "", "open"},
    };
    const auto body = [&] {
        for (const Case& c : cases) {
            std::string text, why;
            ASSERT_TRUE(stationConfigText(QString::fromStdString(c.ssid), QString::fromStdString(c.password),
                                          QString::fromStdString(c.security), &text, &why))
                << why;
            const StationParse parse = parseStation(text);
            ASSERT_TRUE(parse.ok) << text << parse.trace;
            EXPECT_EQ(1, parse.networks) << text;
            EXPECT_EQ(hexOf(c.ssid), parse.ssidHex) << text;
            std::string key; // the key the daemon should hold, in hexadecimal
            if (c.security == "wep" || c.security == "WEP")
                key = c.password.size() <= 13 ? hexOf(c.password) : c.password;
            else if (c.password.size() == 64)
                key = c.password;
            else if (!c.password.empty())
                key = referencePsk(c.ssid, c.password);
            EXPECT_EQ(key, c.security == "wep" || c.security == "WEP" ? parse.wepKeyHex : parse.pskHex) << text;
        }
    };
    RUN_IN_TEST_NAMESPACES(body);
}

TEST(WifiConfigText, RefusesWhatNoDaemonCouldTake)
{
    const char* const station[][3] = {
        {"", "", "open"},
        {"thirty-three bytes of network nam", "", "open"},
        {"Home", "", "wpa"},
        {"Home", "seven77", "wpa"},
        {"Home", "sixty-four characters that are not all hexadecimal digits ......", "wpa"},
        {"Home", "new\nline1", "wpa"},
        {"Home", "tab\tin it", "wpa"},
        {"Home", "1234", "wep"},
        {"Home", "12345678901", "wep"},
        {"Home", "0123456789abcdef012345678g", "wep"},
    };
    for (const auto& c : station) {
        std::string text = "untouched", why;
        EXPECT_FALSE(stationConfigText(c[0], c[1], c[2], &text, &why)) << c[0] << " / " << c[1];
        EXPECT_EQ("untouched", text);
        EXPECT_FALSE(why.empty());
        if (*c[1]) {
            EXPECT_EQ(std::string::npos, why.find(c[1])) << "no password in the reason";
        }
    }
    const std::string hotspot[][2] = {
        {"", ""}, {"thirty-three bytes of network nam", ""}, {"Spot\nwpa=0", ""}, {"Spot\r", ""},
        {"Spot\x7f", ""}, {"Spot", "1234567"}, {"Spot", std::string(64, 'a')},
        {"Spot", "new\nline12"},
    };
    for (const auto& c : hotspot) {
        std::string text = "untouched", why;
        EXPECT_FALSE(hotspotConfigText(QString::fromStdString(c[0]), QString::fromStdString(c[1]), &text, &why))
            << c[0] << " / " << c[1];
        EXPECT_EQ("untouched", text);
    }
}

TEST(WifiConfigText, AccessPointDaemonTakesOpenAndProtectedHotspots)
{
    const std::string cases[][2] = {
        {"Printer", ""},
        {"Drucker \"B\xc3\xbcro\" {1} #2", "pass#word \"x\" "},
        {"thirty-two bytes of network name", std::string(63, '~')},
    };
    const auto body = [&] {
        for (const auto& c : cases) {
            std::string text, why;
            ASSERT_TRUE(hotspotConfigText(QString::fromStdString(c[0]), QString::fromStdString(c[1]), &text, &why))
                << why;
            EXPECT_EQ("", hotspotComplaints(text)) << text;
            EXPECT_EQ("ssid=" + c[0], splitLines(text)[0]);
        }
        // The check itself finds a file the daemon refuses.
        EXPECT_NE("", hotspotComplaints("ssid=x\ninterface=wlan0\nwpa=2\nwpa_passphrase=short\n"));
    };
    RUN_IN_TEST_NAMESPACES(body);
}
