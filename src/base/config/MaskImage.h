#pragma once

#include <QString>

namespace Utils {

// The uniformity mask image of this machine in `dir`: "mask-" and the
// serial number (slashes replaced) and ".png".
QString maskImagePath(const QString& dir);

} // namespace Utils
