#include "driver/EarlierPrint.h"

#include "base/files/DurableFile.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

bool allDigits(const std::string& text, size_t from, size_t to)
{
    if (from >= to)
        return false;
    for (size_t i = from; i < to; ++i)
        if (!isdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// "frame-0001.png", "timeline.csv": the names a print run writes.
bool isPrintOutput(const std::string& name)
{
    static const std::string prefix = "frame-", suffix = ".png";
    if (name == "timeline.csv")
        return true;
    return name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           allDigits(name, prefix.size(), name.size() - suffix.size());
}

// ".frame-0001.png.Ab12Cd": a writer's temporary file of one of them.
bool isPrintTemporary(const std::string& name)
{
    if (!durable::isTemporaryName(name))
        return false;
    const size_t dot = name.rfind('.');
    return isPrintOutput(name.substr(1, dot - 1));
}

} // namespace

EarlierPrint::~EarlierPrint()
{
    std::string error;
    if (!restore(error))
        fprintf(stderr, "talviks-sim: %s\n", error.c_str());
}

bool EarlierPrint::setAside(const std::string& dir, std::string& error)
{
    m_dir = dir;
    DIR* folder = opendir(dir.c_str());
    if (!folder) {
        error = "cannot read the folder " + dir + ": " + strerror(errno);
        return false;
    }
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (!isPrintOutput(name) && !isPrintTemporary(name))
            continue;
        if (m_aside.empty()) {
            std::string made = dir + "/.earlier-print.XXXXXX";
            if (!mkdtemp(made.data())) {
                error = "cannot make a folder in " + dir + " to set an earlier print's files aside: " + strerror(errno);
                break;
            }
            m_aside = made;
        }
        if (rename((dir + "/" + name).c_str(), (m_aside + "/" + name).c_str()) == 0)
            m_names.push_back(name);
        else if (errno != ENOENT) {
            error = "cannot set " + dir + "/" + name + " of an earlier print aside: " + strerror(errno);
            break;
        }
    }
    closedir(folder);
    if (error.empty())
        return true;
    std::string unrestored;
    if (!restore(unrestored))
        error += "; " + unrestored;
    return false;
}

bool EarlierPrint::remove(std::string& error)
{
    if (m_aside.empty())
        return true;
    std::error_code failed;
    std::filesystem::remove_all(m_aside, failed);
    if (failed) {
        error = "cannot remove the earlier print's files set aside in " + m_aside + ": " + failed.message();
        return false;
    }
    m_aside.clear();
    m_names.clear();
    return true;
}

bool EarlierPrint::restore(std::string& error)
{
    if (m_aside.empty())
        return true;
    std::vector<std::string> stay;
    for (const std::string& name : m_names)
        if (rename((m_aside + "/" + name).c_str(), (m_dir + "/" + name).c_str()) != 0) {
            if (stay.empty())
                error = "the earlier print's " + name + " stays in " + m_aside + ": " + strerror(errno);
            stay.push_back(name);
        }
    m_names = stay;
    if (!stay.empty())
        return false;
    rmdir(m_aside.c_str());
    m_aside.clear();
    return true;
}
