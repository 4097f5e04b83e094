#include "base/RootPath.h"

#include <cstdlib>

const std::string& rootPrefix()
{
    static const std::string prefix = [] {
        const char* env = std::getenv("TALVIKS_ROOT");
        std::string root = env ? env : "";
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        if (root == "/")
            root.clear();
        return root;
    }();
    return prefix;
}

std::string rootPath(const std::string& boardPath)
{
    const std::string& prefix = rootPrefix();
    if (prefix.empty() || boardPath.empty() || boardPath[0] != '/')
        return boardPath;
    return prefix + boardPath;
}
