#pragma once

#include "services/WifiAp.h"

#include <list>
#include <string>

// The access points described by the text output of the wireless scan tool,
// strongest first (the tool's order among equal levels). Cells start only at
// the tool's headings ("Cell NN - Address:" at the start of a line), so a
// network name that reads "Cell 12" is part of its cell. Cells without a
// name (hidden networks) are left out. Any text is safe to pass.
std::list<wifi_ap_t> parseWifiScan(const std::string& output);

// Whether the output holds at least one cell heading.
bool hasWifiCells(const std::string& output);

// A network name as the tool prints it, with each \xNN escape turned back
// into its byte (the tool escapes control and non-ASCII bytes that way, and
// a backslash that would read as an escape).
std::string decodeEssid(const std::string& printed);
