#include "nvupserver/PackageUrl.h"

#include <strings.h>

#include <set>

namespace nvupserver {

namespace {

const char kScheme[] = "https://";
const size_t kSchemeLength = sizeof kScheme - 1;

const char* typeName(PackageType type)
{
    static const char* const names[PACKAGE_TYPE_COUNT] = {"kernel", "control", "library", "software"};
    return type >= 0 && type < PACKAGE_TYPE_COUNT ? names[type] : "package";
}

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

std::vector<std::string> packageFileNames(const PackageInfoList& offer)
{
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const PackageUpdateItem& item : offer) {
        const std::string name = packageFileName(item.url);
        std::string unique = name;
        for (int n = 1; !name.empty() && !taken.insert(unique).second; ++n)
            unique = typeName(item.type) + (n > 1 ? std::to_string(n) : std::string()) + "-" + name;
        names.push_back(unique);
    }
    return names;
}

} // namespace nvupserver
