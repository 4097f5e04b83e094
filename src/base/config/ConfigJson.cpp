#include "base/config/ConfigJson.h"

#include "base/log/LogWriter.h"

#include <json/reader.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

namespace {

// Configuration files nest three levels; far deeper text is hostile and would
// only exhaust the stack of the recursive parser.
constexpr int kMaxDepth = 64;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Deepest nesting of objects and arrays in the first value of the text,
// outside strings and comments: what follows that value is not parsed. The
// text is read past as the reader reads past it: a byte-order mark at its
// start, a line comment up to a LF or a CR.
int nestingDepth(std::string_view text)
{
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    int depth = 0;
    int deepest = 0;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '/' && i + 1 < n && text[i + 1] == '/') {
            while (i < n && text[i] != '\n' && text[i] != '\r')
                ++i;
        } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            const size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? n : end + 1;
        } else if (depth == 0 && c != '{' && c != '[' && !isspace(static_cast<unsigned char>(c))) {
            return deepest; // a value that nests nothing, or none at all
        } else if (c == '"') {
            for (++i; i < n && text[i] != '"'; ++i)
                if (text[i] == '\\')
                    ++i;
        } else if (c == '{' || c == '[') {
            if (++depth > deepest)
                deepest = depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return deepest;
        }
    }
    return deepest;
}

bool isInteger(const Json::Value& value)
{
    return value.type() == Json::intValue || value.type() == Json::uintValue;
}

bool isNumber(const Json::Value& value)
{
    return isInteger(value) || value.type() == Json::realValue;
}

// The value as a finite double, truncation left to the caller.
bool numberOf(const Json::Value& value, double* out)
{
    if (!isNumber(value))
        return false;
    *out = value.asDouble();
    return std::isfinite(*out);
}

// Numbers convert as a C cast would (a fraction is dropped), when the whole
// part fits the field.
bool toSigned(const Json::Value& value, int32_t* out)
{
    double number = 0;
    if (!numberOf(value, &number) || number <= double(INT32_MIN) - 1 || number >= double(INT32_MAX) + 1)
        return false;
    *out = static_cast<int32_t>(number);
    return true;
}

bool toUnsigned(const Json::Value& value, uint32_t* out)
{
    double number = 0;
    if (!numberOf(value, &number) || number <= -1 || number >= double(UINT32_MAX) + 1)
        return false;
    *out = static_cast<uint32_t>(number);
    return true;
}

bool parseValue(const char* begin, const char* end, bool failIfExtra, Json::Value* value, std::string* error)
{
    Json::CharReaderBuilder builder;
    builder["failIfExtra"] = failIfExtra;
    builder["allowTrailingCommas"] = false;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    return reader->parse(begin, end, value, error);
}

} // namespace

bool parseConfigText(const std::string& text, Json::Value* root, std::string* error, bool* extraIgnored)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
        begin += kByteOrderMark.size();
    if (extraIgnored)
        *extraIgnored = false;
    if (nestingDepth(std::string_view(begin, static_cast<size_t>(end - begin))) > kMaxDepth) {
        *error = "nested too deeply";
        return false;
    }
    try {
        // Only the first value counts: a second parse that stops there is
        // needed only when something follows it.
        Json::Value value;
        if (!parseValue(begin, end, true, &value, error)) {
            error->clear();
            if (!parseValue(begin, end, false, &value, error)) {
                // One log line: the reader's text spans several.
                std::replace(error->begin(), error->end(), '\n', ' ');
                return false;
            }
            if (extraIgnored)
                *extraIgnored = true;
        }
        if (!value.isObject() && !value.isNull()) {
            *error = "the root is not an object";
            return false;
        }
        *root = std::move(value);
        return true;
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
}

JsonFieldReader::JsonFieldReader(const Json::Value& object, std::string file, std::string where)
    : m_object(object), m_file(std::move(file)), m_where(std::move(where))
{
}

const Json::Value* JsonFieldReader::member(const char* key) const
{
    if (!m_object.isObject())
        return nullptr;
    return m_object.find(key, key + strlen(key));
}

void JsonFieldReader::warn(const char* key, const char* expected) const
{
    logger()->write(LogWarn, "%s: \"%s%s\" is not %s; keeping its value", m_file.c_str(), m_where.c_str(), key,
                                 expected);
}

JsonFieldReader JsonFieldReader::child(const char* key) const
{
    static const Json::Value empty;
    const Json::Value* value = member(key);
    if (value && !value->isObject() && !value->isNull()) {
        warn(key, "an object");
        value = nullptr;
    }
    return JsonFieldReader(value ? *value : empty, m_file, m_where + key + ".");
}

void JsonFieldReader::read(const char* key, std::string& field) const
{
    const Json::Value* value = member(key);
    if (!value)
        return;
    if (value->isString() || isInteger(*value))
        field = value->asString();
    else
        warn(key, "a text");
}

void JsonFieldReader::read(const char* key, bool& field) const
{
    const Json::Value* value = member(key);
    if (!value)
        return;
    if (value->isBool() || isInteger(*value))
        field = value->asBool();
    else
        warn(key, "a boolean");
}

void JsonFieldReader::read(const char* key, int32_t& field) const
{
    const Json::Value* value = member(key);
    if (value && !toSigned(*value, &field))
        warn(key, "a signed 32-bit integer");
}

void JsonFieldReader::read(const char* key, uint32_t& field) const
{
    const Json::Value* value = member(key);
    if (value && !toUnsigned(*value, &field))
        warn(key, "an unsigned 32-bit integer");
}

void JsonFieldReader::read(const char* key, float& field) const
{
    const Json::Value* value = member(key);
    if (!value)
        return;
    double number = 0;
    if (numberOf(*value, &number) && std::fabs(number) <= FLT_MAX)
        field = static_cast<float>(number);
    else
        warn(key, "a number");
}

void JsonFieldReader::read(const char* key, double& field) const
{
    const Json::Value* value = member(key);
    double number = 0;
    if (!value)
        return;
    if (numberOf(*value, &number))
        field = number;
    else
        warn(key, "a number");
}

void JsonFieldReader::read(const char* key, MotorPara& field) const
{
    const JsonFieldReader profile = child(key);
    profile.read("A", field.A);
    profile.read("D", field.D);
    profile.read("V", field.V);
    profile.read("X", field.X);
}

void JsonFieldReader::readWhole(const char* key, float& field) const
{
    const Json::Value* value = member(key);
    uint32_t whole = 0;
    if (!value)
        return;
    if (toUnsigned(*value, &whole))
        field = static_cast<float>(whole);
    else
        warn(key, "an unsigned 32-bit integer");
}

void JsonFieldReader::readTextArray(const char* key, std::vector<std::string>& field) const
{
    const Json::Value* value = member(key);
    if (!value || value->isNull()) {
        field.clear();
        return;
    }
    if (!value->isArray()) {
        warn(key, "an array");
        return;
    }
    std::vector<std::string> texts;
    texts.reserve(value->size());
    for (const Json::Value& element : *value) {
        double number = 0;
        if (!element.isString() && !numberOf(element, &number)) {
            warn(key, "an array of numbers");
            return;
        }
        texts.push_back(element.asString());
    }
    field = std::move(texts);
}
