#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// The scratch root of this test process (also in TALVIKS_ROOT).
const std::string& scratchRoot();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
std::vector<std::string> splitLines(const std::string& text);
bool fileExists(const std::string& path);
// Entries of a folder, "." and ".." not counted.
int entriesIn(const std::string& folder);
// mkdir -p
void makeDirs(const std::string& path);

// Monotonic milliseconds, read straight from the kernel.
long long monotonicMs();

// Polls a condition every pollUs microseconds of real time until it holds
// (true) or timeoutMs pass (false).
bool eventually(const std::function<bool()>& condition, int timeoutMs = 2000, int pollUs = 1000);

} // namespace testsupport
