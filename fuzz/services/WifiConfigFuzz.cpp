// The Wi-Fi configuration texts on any name, password and security kind
// (the three parts of the input, split at its first two zero bytes): an
// accepted input never adds a line to either file.
#include "services/WifiConfigText.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(text.substr(start, end - start));
    if (start != text.size())
        __builtin_trap(); // every line ends with a line break
    return result;
}

void checkStation(const std::string& text)
{
    const std::vector<std::string> all = lines(text);
    // Five settings, the block's opening, the name, 1 to 4 key lines, the block's end.
    if (all.size() < 9 || all.size() > 12 || all[5] != "network={" || all.back() != "}")
        __builtin_trap();
    if (all[6].compare(0, 5, "ssid=") != 0 || all[6].find_first_not_of("0123456789abcdef", 5) != std::string::npos)
        __builtin_trap();
    for (size_t i = 7; i + 1 < all.size(); ++i) {
        const std::string& line = all[i];
        const bool known = line.compare(0, 4, "psk=") == 0 || line.compare(0, 9, "wep_key0=") == 0 ||
                           line.compare(0, 9, "key_mgmt=") == 0 || line.compare(0, 6, "group=") == 0 ||
                           line.compare(0, 9, "pairwise=") == 0 || line == "wep_tx_keyidx=0";
        if (!known)
            __builtin_trap();
    }
}

void checkHotspot(const std::string& text, const std::string& ssid)
{
    const std::vector<std::string> all = lines(text);
    if ((all.size() != 8 && all.size() != 13) || all[0] != "ssid=" + ssid || all[3] != "interface=wlan0")
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t first = input.find('\0');
    const size_t second = first == std::string::npos ? std::string::npos : input.find('\0', first + 1);
    const std::string ssid = input.substr(0, first);
    const std::string password = first == std::string::npos ? "" : input.substr(first + 1, second - first - 1);
    const std::string security = second == std::string::npos ? "" : input.substr(second + 1);
    const QString name = QString::fromStdString(ssid);

    std::string text, why;
    if (stationConfigText(name, QString::fromStdString(password), QString::fromStdString(security), &text, &why))
        checkStation(text);
    text.clear();
    if (hotspotConfigText(name, QString::fromStdString(password), &text, &why))
        checkHotspot(text, name.toStdString());
    return 0;
}
