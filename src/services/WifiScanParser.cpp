#include "services/WifiScanParser.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

namespace {

constexpr float kNoSignal = -130.0f;

// The tool's bytes one to one as characters, so that no name is altered.
QString latin1(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<int>(text.size()));
}

std::string bytesOf(const QString& text)
{
    return text.toLatin1().toStdString();
}

const QRegularExpression& cellHeading()
{
    static const QRegularExpression pattern(QStringLiteral("^[ \\t]*Cell \\d+ - Address:"),
                                            QRegularExpression::MultilineOption);
    return pattern;
}

// Group 1 of the first match in the cell, or a null string.
QString firstMatch(const QRegularExpression& pattern, const QString& cell)
{
    const QRegularExpressionMatch match = pattern.match(cell);
    return match.hasMatch() ? match.captured(1) : QString();
}

float signalLevel(const QString& cell)
{
    // The name and the other fields are each on a line of their own.
    static const QRegularExpression pattern(QStringLiteral("Signal level=[ \\t]*([.\\-\\d]+)"));
    const QString text = firstMatch(pattern, cell);
    if (text.isNull())
        return kNoSignal;
    bool ok = false;
    const float level = text.toFloat(&ok);
    return ok && std::isfinite(level) ? level : 0.0f;
}

bool parseCell(const QString& cell, wifi_ap_t* ap)
{
    // Up to the last quote of the line: a name may itself hold quotes.
    static const QRegularExpression essid(QStringLiteral("ESSID:[ \\t]*\"(.+)\"[ \\t]*$"),
                                          QRegularExpression::MultilineOption);
    static const QRegularExpression auth(QStringLiteral("Authentication Suites[^:\\n]*:[ \\t]*([^\\n]+)"));
    static const QRegularExpression key(QStringLiteral("Encryption key:[ \\t]*([^\\n]+)"));

    const QString name = firstMatch(essid, cell);
    if (name.isEmpty())
        return false;
    ap->essid = decodeEssid(bytesOf(name));
    ap->signal = signalLevel(cell);
    const QString suites = firstMatch(auth, cell);
    ap->auth = suites.isNull() ? "None" : bytesOf(suites);
    ap->encrypted = firstMatch(key, cell) == QLatin1String("on");
    ap->security = ap->auth != "None" ? "wpa" : ap->encrypted ? "wep" : "open";
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

std::string decodeEssid(const std::string& printed)
{
    std::string name;
    name.reserve(printed.size());
    for (size_t i = 0; i < printed.size(); ++i) {
        if (printed[i] == '\\' && i + 3 < printed.size() && printed[i + 1] == 'x') {
            const int high = hexValue(printed[i + 2]);
            const int low = hexValue(printed[i + 3]);
            if (high >= 0 && low >= 0) {
                name += static_cast<char>(high * 16 + low);
                i += 3;
                continue;
            }
        }
        name += printed[i];
    }
    return name;
}

bool hasWifiCells(const std::string& output)
{
    return cellHeading().match(latin1(output)).hasMatch();
}

std::list<wifi_ap_t> parseWifiScan(const std::string& output)
{
    const QString text = latin1(output);
    std::vector<int> starts;
    QRegularExpressionMatchIterator headings = cellHeading().globalMatch(text);
    while (headings.hasNext())
        starts.push_back(headings.next().capturedStart());

    std::list<wifi_ap_t> found;
    // The text before the first heading is the tool's own heading.
    for (size_t i = 0; i < starts.size(); ++i) {
        const int end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        wifi_ap_t ap;
        if (parseCell(text.mid(starts[i], end - starts[i]), &ap))
            found.push_back(ap);
    }
    found.sort([](const wifi_ap_t& a, const wifi_ap_t& b) { return a.signal > b.signal; }); // stable
    return found;
}
