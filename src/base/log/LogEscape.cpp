#include "base/log/LogEscape.h"

namespace logescape {

namespace {

bool isControl(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7f;
}

// The length of the text without the line feeds that end it.
size_t bodyLength(const char* text, size_t length)
{
    while (length > 0 && text[length - 1] == '\n')
        --length;
    return length;
}

// The escape of one control character into `out` (room for 4); its length.
size_t escapeOne(unsigned char c, char* out)
{
    out[0] = '\\';
    switch (c) {
    case '\n':
        out[1] = 'n';
        return 2;
    case '\r':
        out[1] = 'r';
        return 2;
    default:
        static const char digits[] = "0123456789abcdef";
        out[1] = 'x';
        out[2] = digits[c >> 4];
        out[3] = digits[c & 15];
        return 4;
    }
}

} // namespace

bool needsEscape(const char* text, size_t length)
{
    const size_t body = bodyLength(text, length);
    for (size_t i = 0; i < body; ++i)
        if (isControl(static_cast<unsigned char>(text[i])))
            return true;
    return false;
}

size_t escape(const char* text, size_t length, char* out, size_t room)
{
    const size_t body = bodyLength(text, length);
    size_t written = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char piece[4] = {static_cast<char>(c)};
        const size_t size = i < body && isControl(c) ? escapeOne(c, piece) : 1;
        if (room - written < size)
            break;
        for (size_t k = 0; k < size; ++k)
            out[written++] = piece[k];
    }
    return written;
}

size_t escapeInPlace(char* text, size_t length, size_t room)
{
    if (!needsEscape(text, length))
        return length;
    const std::string raw(text, length);
    return escape(raw.data(), raw.size(), text, room);
}

void appendEscaped(std::string& out, const char* text, size_t length)
{
    if (!needsEscape(text, length)) {
        out.append(text, length);
        return;
    }
    const size_t start = out.size();
    out.resize(start + length * 4);
    out.resize(start + escape(text, length, &out[start], length * 4));
}

} // namespace logescape
