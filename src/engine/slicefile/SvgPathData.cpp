#include "engine/slicefile/SvgOffset.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

using ClipperLib::cInt;
using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

// Path data uses a decimal point whatever the process locale says.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

float toFloat(double value)
{
    // Out of the float range the conversion is undefined: make it infinite.
    if (std::fabs(value) > std::numeric_limits<float>::max())
        return std::signbit(value) ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

bool isCoordinate(float mm)
{
    return std::isfinite(mm) && std::fabs(mm) <= kMaxPathCoordinateMm;
}

bool startsNumber(char c)
{
    return c == '-' || c == '.' || (c >= '0' && c <= '9');
}

void appendMm(std::string& out, cInt um)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(static_cast<float>(um) / 1000),
                                      std::chars_format::fixed, 3);
    out.append(buffer, result.ptr);
}

} // namespace

const char* readPathNumber(const char* text, float& value)
{
    value = toFloat(strtod_l(text, nullptr, cLocale()));
    if (*text == '-')
        ++text;
    while ((*text >= '0' && *text <= '9') || *text == '.')
        ++text;
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
}

bool parsePathData(const char* text, Paths& polygons)
{
    Paths read;
    Path current;
    for (const char* p = text;;) {
        const char c = *p;
        if (c == '\0' || c == 'M') {
            if (!current.empty())
                read.push_back(std::move(current));
            current.clear();
            if (c == '\0')
                break;
            ++p;
        } else if (startsNumber(c)) {
            float x, y;
            p = readPathNumber(p, x);
            p = readPathNumber(p, y);
            if (!isCoordinate(x) || !isCoordinate(y))
                return false;
            current.emplace_back(static_cast<cInt>(x * 1000.0f), static_cast<cInt>(y * 1000.0f));
        } else {
            ++p;
        }
    }
    polygons.insert(polygons.end(), read.begin(), read.end());
    return true;
}

QString writePathData(const Paths& polygons)
{
    std::string out;
    for (const Path& polygon : polygons) {
        if (polygon.empty())
            continue;
        for (size_t i = 0; i < polygon.size(); ++i) {
            out += i == 0 ? "M " : "";
            appendMm(out, polygon[i].X);
            out += ' ';
            appendMm(out, polygon[i].Y);
            out += i == 0 ? " L " : " ";
        }
        out += "Z ";
    }
    return QString::fromLatin1(out.data(), static_cast<int>(out.size()));
}
