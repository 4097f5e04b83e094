#include "support/UpdateAnswers.h"

namespace testsupport {

Json::Value checkAnswer(const std::vector<std::pair<int, std::string>>& packages, const std::string& md5,
                        const std::string& sessionId)
{
    static const char* const keys[] = {"KernelPackage", "ControlPackage", "LibraryPackage", "SoftwarePackage"};
    Json::Value answer(Json::objectValue);
    answer["ErrorCode"] = 200;
    answer["Message"] = "ok";
    answer["SessionID"] = sessionId;
    for (const auto& [type, url] : packages) {
        Json::Value package(Json::objectValue);
        package["Version"] = "9.9." + std::to_string(type);
        package["BuildTime"] = "2026-01-02 03:04:05";
        package["MD5"] = md5;
        package["URL"] = url;
        answer[keys[type]] = package;
    }
    return answer;
}

std::string compactJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

} // namespace testsupport
