#include "engine/devices/M0Reply.h"

#include <cstring>

bool m0Field(const char* reply, const char* tag, std::string* text)
{
    const char* open = strstr(reply, tag);
    if (!open)
        return false;
    const char* begin = open + strlen(tag);
    const char* close = strstr(begin, tag);
    if (!close)
        return false;
    text->assign(begin, close);
    return true;
}

std::vector<std::string> m0Pieces(const std::string& text)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
        pieces.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    if (start < text.size())
        pieces.push_back(text.substr(start));
    return pieces;
}
