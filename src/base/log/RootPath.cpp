#include "base/log/RootPath.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

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

std::string absoluteNormalPath(const std::string& path)
{
    std::filesystem::path full(path);
    if (full.is_relative()) {
        char cwd[4096];
        full = std::filesystem::path(getcwd(cwd, sizeof cwd) ? cwd : "/") / full;
    }
    std::string normal = full.lexically_normal().string();
    // POSIX leaves a leading "//" to the implementation; the kernel reads it as "/".
    const size_t first = normal.find_first_not_of('/');
    normal = "/" + (first == std::string::npos ? std::string() : normal.substr(first));
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}
