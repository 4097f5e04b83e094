#include "nvupserver/UpdateJson.h"

#include <json/json.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

namespace nvupserver {

namespace {

const char* const kRequestKeys[PACKAGE_TYPE_COUNT] = {"KernelVersion", "ControlVersion", "LibraryVersion",
                                                      "SoftwareVersion"};
const char* const kAnswerKeys[PACKAGE_TYPE_COUNT] = {"KernelPackage", "ControlPackage", "LibraryPackage",
                                                     "SoftwarePackage"};
const char* const kTimeFormat = "%Y-%m-%d %H:%M:%S";

std::string compact(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

Json::Value versionObject(const PkgVersionInfo& version)
{
    Json::Value object(Json::objectValue);
    object["Version"] = formatVersion(version);
    object["BuildTime"] = formatBuildTime(version.buildTime);
    return object;
}

// Outside data: a deep or broken document must end in false, never in an
// exception that takes the process down.
bool parseObject(const std::string& text, Json::Value& root, std::string& why)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["stackLimit"] = 64;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &why))
            return false;
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
    if (!root.isObject()) {
        why = "answer is not a JSON object";
        return false;
    }
    return true;
}

// An optional string member; false when present with another type.
bool optionalString(const Json::Value& object, const char* key, std::string& out, std::string& why)
{
    const Json::Value* value = object.find(key, key + strlen(key));
    if (!value || value->isNull())
        return true;
    if (!value->isString()) {
        why = std::string("\"") + key + "\" is not a string";
        return false;
    }
    out = value->asString();
    return true;
}

bool isMd5Hex(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (!isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// Returns false on a type error; `found` tells whether a whole package was there.
bool parsePackage(const Json::Value& object, PackageType type, PackageUpdateItem& item, bool& found,
                  std::string& why)
{
    found = false;
    if (!object.isObject()) {
        why = std::string(answerKey(type)) + " is not an object";
        return false;
    }
    std::string buildTime;
    item.type = type;
    if (!optionalString(object, "Version", item.version, why) || !optionalString(object, "BuildTime", buildTime, why)
        || !optionalString(object, "MD5", item.md5, why) || !optionalString(object, "URL", item.url, why))
        return false;
    if (item.version.empty() || buildTime.empty() || item.url.empty() || !isMd5Hex(item.md5))
        return true;
    found = parseBuildTime(buildTime, item.buildTime);
    return true;
}

} // namespace

const char* requestKey(int type)
{
    return type >= 0 && type < PACKAGE_TYPE_COUNT ? kRequestKeys[type] : nullptr;
}

const char* answerKey(int type)
{
    return type >= 0 && type < PACKAGE_TYPE_COUNT ? kAnswerKeys[type] : nullptr;
}

std::string formatVersion(const PkgVersionInfo& version)
{
    char text[48];
    snprintf(text, sizeof text, "%d.%d.%d", version.major, version.minor, version.patch);
    return text;
}

std::string formatBuildTime(time_t seconds)
{
    struct tm fields;
    char text[64];
    if (!gmtime_r(&seconds, &fields) || strftime(text, sizeof text, kTimeFormat, &fields) == 0)
        return std::string();
    return text;
}

bool parseBuildTime(const std::string& text, time_t& seconds)
{
    struct tm fields;
    memset(&fields, 0, sizeof fields);
    const char* end = strptime(text.c_str(), kTimeFormat, &fields);
    if (!end || *end != '\0')
        return false;
    fields.tm_isdst = -1;
    const time_t value = mktime(&fields);
    if (value == static_cast<time_t>(-1))
        return false;
    seconds = value;
    return true;
}

std::string checkRequestBody(const ClientInfo& client)
{
    Json::Value root(Json::objectValue);
    root["SN"] = client.sn;
    root["VID"] = client.vid;
    root["PID"] = client.pid;
    root["Name"] = client.name;
    root["OEMName"] = client.oemName;
    root["HardwareVersion"] = versionObject(client.hardwareVersion);
    for (const PkgVersionInfo& version : client.packageVersions)
        if (const char* key = requestKey(version.type))
            root[key] = versionObject(version);
    return compact(root);
}

bool isSuccessCode(int code)
{
    return code >= 200 && code < 300;
}

namespace {

bool readServiceFields(const Json::Value& root, ServiceAnswer& answer, std::string& why)
{
    const Json::Value& code = root["ErrorCode"];
    if (!code.isInt()) {
        why = code.isNull() ? "answer without \"ErrorCode\"" : "\"ErrorCode\" is not an integer";
        return false;
    }
    answer.errorCode = code.asInt();
    answer.message.clear();
    return optionalString(root, "Message", answer.message, why);
}

} // namespace

bool parseServiceAnswer(const std::string& text, ServiceAnswer& answer, std::string& why)
{
    Json::Value root;
    return parseObject(text, root, why) && readServiceFields(root, answer, why);
}

bool parseCheckAnswer(const std::string& text, CheckAnswer& answer, std::string& why)
{
    answer = CheckAnswer();
    Json::Value root;
    if (!parseObject(text, root, why) || !readServiceFields(root, answer, why))
        return false;
    if (!optionalString(root, "SessionID", answer.sessionId, why))
        return false;
    if (!isSuccessCode(answer.errorCode))
        return true;
    for (int type = 0; type < PACKAGE_TYPE_COUNT; ++type) {
        const Json::Value* object = root.find(kAnswerKeys[type], kAnswerKeys[type] + strlen(kAnswerKeys[type]));
        if (!object || object->isNull())
            continue;
        PackageUpdateItem item;
        bool found = false;
        if (!parsePackage(*object, static_cast<PackageType>(type), item, found, why))
            return false;
        if (found)
            answer.packages.push_back(item);
    }
    return true;
}

std::string feedbackBody(const FeedbackFields& fields, const ClientInfo& client)
{
    Json::Value root(Json::objectValue);
    root["VID"] = fields.vid;
    root["PID"] = fields.pid;
    root["Type"] = static_cast<int>(fields.type);
    root["Version"] = fields.version;
    root["ClientSN"] = client.sn;
    root["ClientName"] = client.name;
    root["ClientOEM"] = client.oemName;
    for (const PkgVersionInfo& version : client.packageVersions) {
        if (version.type == fields.type) {
            root["ClientVersion"] = formatVersion(version);
            root["ClientBuildTime"] = formatBuildTime(version.buildTime);
            break;
        }
    }
    root["ClientHardware"] = formatVersion(client.hardwareVersion);
    root["Result"] = fields.result;
    return compact(root);
}

} // namespace nvupserver
