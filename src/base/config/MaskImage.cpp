#include "base/config/MaskImage.h"

#include "base/config/ConfigStore.h"
#include "base/files/Utils.h"

QString Utils::maskImagePath(const QString& dir)
{
    QString serial = QString::fromStdString(ConfigStore::instance()->m_serial);
    if (serial.isEmpty())
        serial = "serial";
    // The serial number names a file: it cannot lead into another folder.
    serial.replace('/', '_');
    return joinPath(dir, "mask-" + serial + ".png");
}
