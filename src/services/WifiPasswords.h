#pragma once

#include <QString>

// The form in which Wi-Fi passwords are kept in the password file: the
// password with pieces of its MD5 digest woven in. Machines in the field
// wrote files in this form, so it stays exactly as it is.

// The stored text of a password.
QString wrapWifiPassword(const QString& password);

// The password of a stored text; empty for an empty text. A password shorter
// than four characters was padded with blanks when wrapped; the padding is
// dropped when the stored digest pieces show the shorter password.
QString unwrapWifiPassword(const QString& stored);
