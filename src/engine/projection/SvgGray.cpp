#include "engine/projection/SvgGray.h"

#include <QList>

#include <cctype>
#include <cstring>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isGrayHex(const QByteArray& hex)
{
    for (char c : hex)
        if (!isxdigit(static_cast<unsigned char>(c)))
            return false;
    if (hex.size() == 3)
        return hex[0] == hex[1] && hex[1] == hex[2];
    if (hex.size() == 6)
        return hex.mid(0, 2) == hex.mid(2, 2) && hex.mid(2, 2) == hex.mid(4, 2);
    return false;
}

bool isGrayColour(QByteArray value)
{
    value = value.trimmed();
    static const char* const grays[] = {"none", "inherit", "currentcolor", "transparent", "white",
                                        "black", "gray",    "grey",         "silver"};
    for (const char* gray : grays)
        if (value == gray)
            return true;
    if (value.startsWith('#'))
        return isGrayHex(value.mid(1));
    if (value.startsWith("rgb(") && value.endsWith(')')) {
        const QList<QByteArray> parts = value.mid(4, value.size() - 5).split(',');
        return parts.size() == 3 && parts[0].trimmed() == parts[1].trimmed() &&
               parts[1].trimmed() == parts[2].trimmed();
    }
    return false;
}

// The value after a property name at `at`, when the name is followed by
// "=" or ":" (an attribute or a style property); empty otherwise.
bool readValue(const QByteArray& svg, int at, QByteArray& value)
{
    int i = at;
    while (i < svg.size() && isSpace(svg[i]))
        ++i;
    if (i >= svg.size() || (svg[i] != '=' && svg[i] != ':'))
        return false;
    ++i;
    while (i < svg.size() && (isSpace(svg[i]) || svg[i] == '"' || svg[i] == '\''))
        ++i;
    int end = i;
    if (svg.mid(i, 4) == "rgb(") {
        end = svg.indexOf(')', i);
        end = end < 0 ? svg.size() : end + 1;
    } else {
        while (end < svg.size() && !strchr("\"';}>", svg[end]) && !isSpace(svg[end]))
            ++end;
    }
    value = svg.mid(i, end - i);
    return true;
}

} // namespace

bool svgUsesOnlyGrays(const QByteArray& document)
{
    const QByteArray svg = document.toLower(); // style sheets name properties in any case
    if (svg.contains("<image") || svg.contains("url("))
        return false;
    // "color" also finds stop-color, flood-color and lighting-color.
    for (const char* property : {"fill", "stroke", "color"}) {
        const int length = static_cast<int>(strlen(property));
        for (int at = svg.indexOf(property); at >= 0; at = svg.indexOf(property, at + length)) {
            QByteArray value;
            if (readValue(svg, at + length, value) && !isGrayColour(value))
                return false;
        }
    }
    return true;
}
