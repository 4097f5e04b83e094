#pragma once

#include <json/json.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// The update server's check answer (ErrorCode 200) offering the given
// packages: type (0 kernel, 1 control, 2 library, 3 software) -> URL, each
// with the MD5 `md5`.
Json::Value checkAnswer(const std::vector<std::pair<int, std::string>>& packages, const std::string& md5,
                        const std::string& sessionId);
// A JSON value on one line, as the test server sends it.
std::string compactJson(const Json::Value& value);

} // namespace testsupport
