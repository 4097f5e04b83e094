#pragma once

#include "nvupserver/UpdateTypes.h"

#include <string>
#include <vector>

namespace nvupserver {

// True for an "https://" URL with a host.
bool isHttpsUrl(const std::string& url);

// The file name a package URL gives: its last path component without query
// or fragment. Empty when that would be unsafe as a file name (empty, ".",
// "..", or holding a separator or a control character).
std::string packageFileName(const std::string& url);

// The file names of an offer's packages in one folder, in the offer's order:
// each URL's file name, with the package's type put in front ("kernel-x.bin")
// where an earlier package of the offer has that name already, so that no two
// packages share a file. Empty where the URL gives no safe name.
std::vector<std::string> packageFileNames(const PackageInfoList& offer);

} // namespace nvupserver
