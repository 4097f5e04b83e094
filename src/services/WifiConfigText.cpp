#include "services/WifiConfigText.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>

namespace {

const char kHexDigits[] = "0123456789abcdef";

std::string toHex(const std::string& bytes)
{
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += kHexDigits[c >> 4];
        hex += kHexDigits[c & 15];
    }
    return hex;
}

bool isPrintableAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

bool isHex(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return isxdigit(static_cast<unsigned char>(c)); });
}

bool refuse(std::string* why, const std::string& reason)
{
    *why = reason;
    return false;
}

bool checkSsid(const std::string& ssid, std::string* why)
{
    if (ssid.empty() || ssid.size() > static_cast<size_t>(kMaxSsidBytes))
        return refuse(why, "the network name must have 1 to 32 bytes, not " + std::to_string(ssid.size()));
    return true;
}

// The station daemon reads a quoted text up to its second double quote when
// it looks for comments: a key holding a double quote is written another way.
bool quotable(const std::string& text)
{
    return text.find('"') == std::string::npos;
}

// The value of "psk=", or empty when the password cannot be a WPA key.
std::string wpaPsk(const std::string& ssid, const std::string& password, std::string* why)
{
    if (password.size() == 64 && isHex(password))
        return password;
    if (password.size() < 8 || password.size() > 63 || !isPrintableAscii(password)) {
        refuse(why, "a WPA passphrase must be 8 to 63 printable ASCII characters or 64 hexadecimal digits");
        return "";
    }
    return quotable(password) ? "\"" + password + "\"" : wpaPskHex(ssid, password);
}

// The value of "wep_key0=", or empty when the password cannot be a WEP key.
std::string wepKey(const std::string& password, std::string* why)
{
    if ((password.size() == 10 || password.size() == 26) && isHex(password))
        return password;
    if ((password.size() != 5 && password.size() != 13) || !isPrintableAscii(password)) {
        refuse(why, "a WEP key must be 5 or 13 printable ASCII characters or 10 or 26 hexadecimal digits");
        return "";
    }
    // A text key is its bytes.
    return quotable(password) ? "\"" + password + "\"" : toHex(password);
}

} // namespace

std::string wpaPskHex(const std::string& ssid, const std::string& passphrase)
{
    unsigned char key[32];
    PKCS5_PBKDF2_HMAC_SHA1(passphrase.data(), static_cast<int>(passphrase.size()),
                           reinterpret_cast<const unsigned char*>(ssid.data()), static_cast<int>(ssid.size()), 4096,
                           sizeof key, key);
    return toHex(std::string(reinterpret_cast<const char*>(key), sizeof key));
}

bool stationConfigText(const QString& ssid, const QString& password, const QString& security, std::string* text,
                       std::string* why)
{
    const std::string name = ssid.toStdString();
    const std::string pass = password.toStdString();
    if (!checkSsid(name, why))
        return false;

    std::string network;
    if (security.compare("open", Qt::CaseInsensitive) == 0) {
        network = "key_mgmt=NONE\n";
    } else if (security.compare("wep", Qt::CaseInsensitive) == 0) {
        const std::string key = wepKey(pass, why);
        if (key.empty())
            return false;
        network = "key_mgmt=NONE\nwep_key0=" + key + "\nwep_tx_keyidx=0\n";
    } else {
        const std::string psk = wpaPsk(name, pass, why);
        if (psk.empty())
            return false;
        network = "psk=" + psk +
                  "\nkey_mgmt=WPA-PSK WPA-EAP NONE\ngroup=CCMP TKIP WEP104 WEP40\npairwise=CCMP TKIP\n";
    }
    *text = "ctrl_interface=/var/run/wpa_supplicant\n"
            "update_config=1\n"
            "ctrl_interface_group=root\n"
            "ap_scan=1\n"
            "fast_reauth=1\n"
            "network={\n"
            "ssid=" + toHex(name) + "\n" + network + "}\n";
    return true;
}

bool hotspotConfigText(const QString& ssid, const QString& password, std::string* text, std::string* why)
{
    const std::string name = ssid.toStdString();
    const std::string pass = password.toStdString();
    if (!checkSsid(name, why))
        return false;
    // The access point daemon takes the rest of the line as the name.
    if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        return refuse(why, "the network name holds a control character");
    if (!pass.empty() && (pass.size() < 8 || pass.size() > 63 || !isPrintableAscii(pass)))
        return refuse(why, "the hotspot password must be 8 to 63 printable ASCII characters");

    std::string out = "ssid=" + name + "\n"
                      "hw_mode=g\nchannel=1\ninterface=wlan0\n#bridge=br0\n#driver=nl80211\n"
                      "ignore_broadcast_ssid=0\nmacaddr_acl=0\n";
    if (!pass.empty())
        out += "wpa_passphrase=" + pass + "\n"
               "wpa=2\nwpa_key_mgmt=WPA-PSK\n#wpa_pairwise=TKIP CCMP\nrsn_pairwise=TKIP CCMP\n";
    *text = out;
    return true;
}
