#include "services/WifiPasswords.h"

#include <QCryptographicHash>

namespace {

constexpr int kPieceLength = 5;
constexpr int kFirstAt = 3;  // where the digest's head goes
constexpr int kSecondAt = 9; // where its tail goes, in the text with the head in

QString digestOf(const QString& password)
{
    return QString::fromLatin1(QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString insertPadded(QString text, int at, const QString& piece)
{
    if (text.size() < at)
        text = text.leftJustified(at, QLatin1Char(' '));
    return text.insert(at, piece);
}

} // namespace

QString wrapWifiPassword(const QString& password)
{
    const QString digest = digestOf(password);
    const QString head = insertPadded(password, kFirstAt, digest.left(kPieceLength));
    return insertPadded(head, kSecondAt, digest.right(kPieceLength));
}

QString unwrapWifiPassword(const QString& stored)
{
    if (stored.isEmpty())
        return QString();
    QString password = stored;
    password.remove(kFirstAt, kPieceLength);
    password.remove(kSecondAt - kPieceLength, kPieceLength);

    // Blanks at the end may be padding: the digest pieces tell which
    // password was saved. Texts of old files that match no candidate come
    // back as they are.
    const QString head = stored.mid(kFirstAt, kPieceLength);
    const QString tail = stored.mid(kSecondAt, kPieceLength);
    for (QString candidate = password;; candidate.chop(1)) {
        const QString digest = digestOf(candidate);
        if (digest.left(kPieceLength) == head && digest.right(kPieceLength) == tail)
            return candidate;
        if (!candidate.endsWith(QLatin1Char(' ')))
            break;
    }
    return password;
}

QString wifiPasswordKey(const std::string& ssid)
{
    QString key = QString::fromLatin1(ssid.data(), static_cast<int>(ssid.size()));
    key.replace(QLatin1Char('%'), QLatin1String("%25"));
    key.replace(QLatin1Char('/'), QLatin1String("%2F"));
    return key;
}

QString legacyWifiPasswordKey(const std::string& ssid)
{
    if (ssid.find_first_of("/%") == std::string::npos)
        return QString();
    // Slashes that QSettings folds ("/Home", "Home/", "Lab//5GHz", all
    // slashes): the entry is another name's ("Home", "Lab/5GHz") or the file.
    if (ssid.front() == '/' || ssid.back() == '/' || ssid.find("//") != std::string::npos)
        return QString();
    // Without a slash, a text whose every '%' starts "%25" or "%2F" is
    // today's key of another name ("a%2Fb" is that of "a/b").
    if (ssid.find('/') == std::string::npos) {
        bool escapesOnly = true;
        for (size_t at = ssid.find('%'); at != std::string::npos && escapesOnly; at = ssid.find('%', at + 1))
            escapesOnly = ssid.compare(at, 3, "%25") == 0 || ssid.compare(at, 3, "%2F") == 0;
        if (escapesOnly)
            return QString();
    }
    return QString::fromLatin1(ssid.data(), static_cast<int>(ssid.size()));
}
