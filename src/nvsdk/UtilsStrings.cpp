// nvsdk::Utils: strings and paths.
#include "nvsdk/Utils.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace nvsdk {

namespace {

bool isSpace(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

char lower(char c)
{
    return static_cast<char>(tolower(static_cast<unsigned char>(c)));
}

bool sameText(const char* a, const char* b, size_t length, bool caseSensitive)
{
    for (size_t i = 0; i < length; ++i)
        if (caseSensitive ? a[i] != b[i] : lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

} // namespace

std::string Utils::trimLeft(const std::string& text)
{
    const auto start = std::find_if_not(text.begin(), text.end(), isSpace);
    return std::string(start, text.end());
}

std::string Utils::trimRight(const std::string& text)
{
    const auto end = std::find_if_not(text.rbegin(), text.rend(), isSpace);
    return std::string(text.begin(), end.base());
}

std::string Utils::trim(const std::string& text)
{
    return trimRight(trimLeft(text));
}

std::string Utils::toUpper(const std::string& text)
{
    std::string result = text;
    for (char& c : result)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return result;
}

std::string Utils::toLower(const std::string& text)
{
    std::string result = text;
    for (char& c : result)
        c = lower(c);
    return result;
}

std::vector<std::string> Utils::split(const std::string& text)
{
    std::vector<std::string> words;
    auto at = text.begin();
    while (at != text.end()) {
        at = std::find_if_not(at, text.end(), isSpace);
        const auto end = std::find_if(at, text.end(), isSpace);
        if (at != end)
            words.emplace_back(at, end);
        at = end;
    }
    return words;
}

std::vector<std::string> Utils::regexSplit(const std::string& text, const std::string& expression, bool keepEmpty)
{
    std::vector<std::string> pieces;
    auto keep = [&](std::string::const_iterator from, std::string::const_iterator to) {
        std::string piece = trim(std::string(from, to));
        if (!piece.empty() || keepEmpty)
            pieces.push_back(std::move(piece));
    };
    try {
        const boost::regex pattern(expression);
        auto rest = text.cbegin();
        boost::smatch match;
        // A match of no characters would leave the rest as it was, for ever:
        // only matches of at least one character split.
        auto flags = boost::match_default | boost::match_not_null;
        while (boost::regex_search(rest, text.cend(), match, pattern, flags)) {
            keep(rest, match[0].first);
            rest = match[0].second;
            // "^" and "\b" see the text before the rest.
            flags |= boost::match_prev_avail;
        }
        keep(rest, text.cend());
    } catch (const std::exception& error) {
        fprintf(stderr, "regexSplit: expression (%s): %s\n", expression.c_str(), error.what());
        return {};
    }
    return pieces;
}

std::string Utils::joinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return "./" + name;
    if (dir.back() == '/')
        return dir + name;
    if (name.empty())
        return dir;
    return dir + "/" + name;
}

bool Utils::startsWith(const std::string& text, const std::string& prefix, bool caseSensitive)
{
    if (prefix.empty())
        return true;
    if (text.size() < prefix.size())
        return false;
    return sameText(text.data(), prefix.data(), prefix.size(), caseSensitive);
}

bool Utils::endsWith(const std::string& text, const std::string& suffix, bool caseSensitive)
{
    if (suffix.empty())
        return true;
    if (text.size() < suffix.size())
        return false;
    return sameText(text.data() + text.size() - suffix.size(), suffix.data(), suffix.size(), caseSensitive);
}

} // namespace nvsdk
