#pragma once

#include <string>

namespace nvupserver {

// True for an "https://" URL with a host.
bool isHttpsUrl(const std::string& url);

// The file name a package URL gives: its last path component without query
// or fragment. Empty when that would be unsafe as a file name (empty, ".",
// "..", or holding a separator or a control character).
std::string packageFileName(const std::string& url);

} // namespace nvupserver
