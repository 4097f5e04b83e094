#include "nvupserver/PackageUrl.h"

#include <strings.h>

namespace nvupserver {

namespace {

const char kScheme[] = "https://";
const size_t kSchemeLength = sizeof kScheme - 1;

} // namespace

bool isHttpsUrl(const std::string& url)
{
    return url.size() > kSchemeLength && strncasecmp(url.c_str(), kScheme, kSchemeLength) == 0
        && url[kSchemeLength] != '/';
}

std::string packageFileName(const std::string& url)
{
    if (!isHttpsUrl(url))
        return std::string();
    const std::string rest = url.substr(0, url.find_first_of("?#")).substr(kSchemeLength);
    const size_t pathStart = rest.find('/');
    if (pathStart == std::string::npos)
        return std::string();
    const std::string name = rest.substr(rest.rfind('/') + 1);
    if (name.empty() || name == "." || name == "..")
        return std::string();
    for (char c : name)
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return std::string();
    return name;
}

} // namespace nvupserver
