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
    // All slashes: the key of the whole file, not of an entry.
    if (ssid.find_first_of("/%") == std::string::npos || ssid.find_first_not_of('/') == std::string::npos)
        return QString();
    return QString::fromLatin1(ssid.data(), static_cast<int>(ssid.size()));
}
