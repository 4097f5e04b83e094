#pragma once

#include "base/config/MotorPara.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// Reading configuration text that comes from outside (a file on the machine
// or on a USB disk): parsing with limits, and typed reads of members that
// keep a field's value when the member is missing or does not fit the field.

// Parses a configuration text: comments allowed, a leading UTF-8 byte-order
// mark skipped, and text after the first value ignored (files carry stray
// edits there; `extraIgnored`, when given, tells whether there was any).
// False (and `error` set) when the text does not begin with a JSON value,
// nests deeper than any configuration file does, or its root is neither an
// object nor null.
bool parseConfigText(const std::string& text, Json::Value* root, std::string* error,
                     bool* extraIgnored = nullptr);

// Reads the members of one JSON object into fields. A missing member keeps
// the field as it is; a member whose type or value does not fit the field
// keeps it too and logs a warning naming the file and the key.
class JsonFieldReader
{
public:
    // `object` must outlive the reader; null counts as an empty object.
    JsonFieldReader(const Json::Value& object, std::string file, std::string where = "");

    // A nested object; a member that is not an object logs a warning and
    // reads as empty, so all its fields keep their values.
    JsonFieldReader child(const char* key) const;

    void read(const char* key, std::string& field) const;
    void read(const char* key, bool& field) const;
    void read(const char* key, int32_t& field) const;
    void read(const char* key, uint32_t& field) const;
    void read(const char* key, float& field) const;
    void read(const char* key, double& field) const;
    void read(const char* key, MotorPara& field) const;
    // A number held as float but read in whole units: the fraction is dropped.
    void readWhole(const char* key, float& field) const;
    // An array of decimal texts (numbers are taken as their text). A missing
    // array reads as empty; an array with an element that is neither text nor
    // a number keeps the field.
    void readTextArray(const char* key, std::vector<std::string>& field) const;

private:
    const Json::Value* member(const char* key) const;
    void warn(const char* key, const char* expected) const;

    const Json::Value& m_object;
    std::string m_file;
    std::string m_where;
};
