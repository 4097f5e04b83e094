#pragma once

#include <QString>

#include <string>

// The texts of the Wi-Fi station configuration (wifi.cfg) and of the access
// point configuration (hostapd.conf), built from what a user typed.
//
// A network name or a password must never add a line to either file: the
// station's network name is written in hexadecimal, its passphrase or key
// only in a form that its daemon reads back as exactly those characters, and
// anything neither daemon could take is refused. Each answers false with the
// cause in `why` (no password in it) and leaves `text` alone.

// Network names are 1 to 32 bytes in UTF-8.
constexpr int kMaxSsidBytes = 32;

// `security` "open" or "wep" (any letter case); anything else is WPA. WPA
// takes a passphrase of 8 to 63 printable ASCII characters or a key of 64
// hexadecimal digits; WEP a key of 5 or 13 printable ASCII characters or of
// 10 or 26 hexadecimal digits; an open network ignores the password.
bool stationConfigText(const QString& ssid, const QString& password, const QString& security, std::string* text,
                       std::string* why);

// A network name without control characters; an empty password opens the
// access point, any other must be 8 to 63 printable ASCII characters.
bool hotspotConfigText(const QString& ssid, const QString& password, std::string* text, std::string* why);

// The 64 hexadecimal digits of the WPA key that a passphrase gives on a
// network (PBKDF2-SHA1, 4096 rounds, the name as salt).
std::string wpaPskHex(const std::string& ssid, const std::string& passphrase);
