#pragma once

#include <string>

namespace nvupserver {

// Lower-case hexadecimal MD5 of a file; false when it cannot be read.
bool fileMd5Hex(const std::string& path, std::string& hex);

// Digests compared without regard to letter case.
bool sameDigest(const std::string& a, const std::string& b);

} // namespace nvupserver
