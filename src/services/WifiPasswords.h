#pragma once

#include <QString>

#include <string>

// The form in which Wi-Fi passwords are kept in the password file: the
// password with pieces of its MD5 digest woven in. Machines in the field
// wrote files in this form, so it stays exactly as it is.

// The stored text of a password.
QString wrapWifiPassword(const QString& password);

// The password of a stored text; empty for an empty text. A password shorter
// than four characters was padded with blanks when wrapped; the padding is
// dropped when the stored digest pieces show the shorter password.
QString unwrapWifiPassword(const QString& stored);

// The settings key of a network's password. QSettings takes '/' for a group
// separator and folds runs of them, so "Lab/2.4GHz", "Lab//2.4GHz" and
// "Lab/2.4GHz/" would share one entry: a '/' is written "%2F", and a '%'
// "%25" so that no name can pose as another. Names holding neither keep the
// key they always had. Empty for an empty name, which addresses no entry.
QString wifiPasswordKey(const std::string& ssid);

// The key earlier versions gave a name holding '/' or '%', under which
// their files keep its password; empty when there is none other than
// wifiPasswordKey, and when the entry it addresses may be another name's
// (today's key of another name, or a key QSettings folds into another).
QString legacyWifiPasswordKey(const std::string& ssid);
