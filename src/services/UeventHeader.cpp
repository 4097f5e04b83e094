#include "services/UeventHeader.h"

#include <QRegularExpression>

#include <cstring>

namespace {

// Device paths are at most PATH_MAX; anything longer is not a kernel event
// and would only make the match slow.
constexpr size_t kMaxHeader = 4096 + 16;

} // namespace

bool parseUeventHeader(const char* data, size_t size, DiskEvent& event)
{
    const void* zero = std::memchr(data, 0, size);
    const size_t length = zero ? static_cast<const char*>(zero) - data : size;
    if (length == 0 || length > kMaxHeader)
        return false;
    // One compiled expression per thread: matching never shares state.
    thread_local const QRegularExpression expression("(add|remove)@.+/block/sd[a-z]{1}/(sd[a-z]{1}[0-9]+)");
    const QRegularExpressionMatch match = expression.match(QString::fromLatin1(data, static_cast<int>(length)));
    if (!match.hasMatch())
        return false;
    event.action = match.capturedRef(1) == QLatin1String("add") ? DEV_ACTION_ADD : DEV_ACTION_REMOVE;
    event.partition = match.captured(2);
    return true;
}
