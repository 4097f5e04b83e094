#pragma once

#include <QString>

// Network helpers: switching the interfaces through the shell seam, and their addresses.
namespace Utils {

// --- Network services (through the shell seam) ---
int disableWiFi();
int disableWiFiAP();
int disableEth();
void restartEth();
// The IPv4 address of an interface that is up, as dotted text; empty when
// it is down, missing or its first address is not IPv4.
QString getIP(const QString& interfaceName);
QString getEthIP();
QString getWlanIP();

} // namespace Utils
