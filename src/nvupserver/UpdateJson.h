#pragma once

#include "nvupserver/UpdateTypes.h"

#include <string>

// The JSON bodies exchanged with the update service.
namespace nvupserver {

// Keys of a package type in the check request and in the check answer; null
// for a value outside the enumeration.
const char* requestKey(int type);
const char* answerKey(int type);

std::string formatVersion(const PkgVersionInfo& version);
// "%Y-%m-%d %H:%M:%S" in UTC.
std::string formatBuildTime(time_t seconds);
// "%Y-%m-%d %H:%M:%S" read as local time; false when the text is not one.
bool parseBuildTime(const std::string& text, time_t& seconds);

std::string checkRequestBody(const ClientInfo& client);

// What the service says in every answer.
struct ServiceAnswer
{
    int errorCode = 0;
    std::string message;
};

// A check answer: the service's verdict, and on success the session and the
// packages that parsed (a package lacking a field is left out).
struct CheckAnswer : ServiceAnswer
{
    std::string sessionId;
    PackageInfoList packages;
};

bool isSuccessCode(int code);

// False (with the reason) when the text is not a JSON object, "ErrorCode" is
// missing or not an integer, or a field has the wrong type.
bool parseServiceAnswer(const std::string& text, ServiceAnswer& answer, std::string& why);
bool parseCheckAnswer(const std::string& text, CheckAnswer& answer, std::string& why);

struct FeedbackFields
{
    std::string vid;
    std::string pid;
    PackageType type = PACKAGE_KERNEL;
    std::string version;
    int result = 0;
};

std::string feedbackBody(const FeedbackFields& fields, const ClientInfo& client);

} // namespace nvupserver
