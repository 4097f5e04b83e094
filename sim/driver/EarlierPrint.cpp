#include "driver/EarlierPrint.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

const std::string kAsidePrefix = ".earlier-print.";

// Whether the characters from `from` to `to` are there and all pass `test`.
template <typename Test>
bool allOf(const std::string& text, size_t from, size_t to, Test test)
{
    return from < to && std::all_of(text.begin() + from, text.begin() + to,
                                     [&](char c) { return test(static_cast<unsigned char>(c)) != 0; });
}

// "frame-0001.png", "timeline.csv": the names a print run writes.
bool isPrintOutput(const std::string& name)
{
    static const std::string prefix = "frame-", suffix = ".png";
    if (name == "timeline.csv")
        return true;
    return name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           allOf(name, prefix.size(), name.size() - suffix.size(), [](int c) { return isdigit(c); });
}

// ".earlier-print.Ab12Cd", as mkdtemp makes it.
bool isAsideFolder(const std::string& name)
{
    return name.size() == kAsidePrefix.size() + 6 && name.compare(0, kAsidePrefix.size(), kAsidePrefix) == 0 &&
           allOf(name, kAsidePrefix.size(), name.size(), [](int c) { return isalnum(c); });
}

// An entry's type (S_IFREG, S_IFDIR, ...), not following a link; 0 when it is gone.
mode_t typeOf(const std::string& path)
{
    struct stat status{};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

const char* typeName(mode_t type)
{
    return type == S_IFDIR ? "a folder" : type == S_IFLNK ? "a symbolic link" : "not a regular file";
}

// The names of a folder's entries that `keep` takes; false when it cannot be read.
template <typename Keep>
bool namesIn(const std::string& dir, Keep keep, std::vector<std::string>& names)
{
    DIR* folder = opendir(dir.c_str());
    if (!folder)
        return false;
    while (const dirent* entry = readdir(folder))
        if (keep(entry->d_name))
            names.push_back(entry->d_name);
    closedir(folder);
    return true;
}

// Moves a regular file back to `to` unless a file of that name is there.
int putBack(const std::string& from, const std::string& to)
{
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

} // namespace

EarlierPrint::~EarlierPrint()
{
    std::string error;
    if (!restore(error))
        fprintf(stderr, "talviks-sim: %s\n", error.c_str());
}

void EarlierPrint::recoverLeftovers(const std::string& dir)
{
    std::vector<std::string> folders;
    namesIn(dir, isAsideFolder, folders);
    for (const std::string& folder : folders) {
        const std::string aside = dir + "/" + folder;
        std::vector<std::string> names;
        if (typeOf(aside) != S_IFDIR)
            continue;
        namesIn(aside, isPrintOutput, names);
        std::string stay;
        for (const std::string& name : names) {
            // Only the regular files a run set aside; anything else stays where it is.
            const int error = typeOf(aside + "/" + name) == S_IFREG ? putBack(aside + "/" + name, dir + "/" + name) : 0;
            if (error && stay.empty())
                stay = error == EEXIST ? dir + "/" + name + " is already there" : name + ": " + strerror(error);
        }
        if (rmdir(aside.c_str()) != 0 && stay.empty())
            stay = strerror(errno);
        if (!stay.empty())
            fprintf(stderr, "talviks-sim: an earlier print's files stay in %s: %s\n", aside.c_str(), stay.c_str());
    }
}

bool EarlierPrint::setAside(const std::string& dir, std::string& error)
{
    m_dir = dir;
    std::vector<std::string> names;
    if (!namesIn(dir, isPrintOutput, names)) {
        error = "cannot read the folder " + dir + ": " + strerror(errno);
        return false;
    }
    // Only files the simulator writes are moved: anything else of such a
    // name is the user's, and the print would write over it.
    for (const std::string& name : names)
        if (const mode_t type = typeOf(dir + "/" + name); type && type != S_IFREG) {
            error = "cannot print into " + dir + ": " + dir + "/" + name + " is " + typeName(type) +
                    ", not a frame or timeline of an earlier print";
            return false;
        }
    for (const std::string& name : names) {
        if (m_aside.empty()) {
            std::string made = dir + "/" + kAsidePrefix + "XXXXXX";
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
    for (const std::string& name : m_names)
        if (unlink((m_aside + "/" + name).c_str()) != 0 && errno != ENOENT && error.empty())
            error = "cannot remove the earlier print's " + name + " set aside in " + m_aside + ": " + strerror(errno);
    if (error.empty() && rmdir(m_aside.c_str()) != 0)
        error = "cannot remove the folder " + m_aside + " of an earlier print's files: " + strerror(errno);
    // What stays is never put back among the new print's files.
    m_aside.clear();
    m_names.clear();
    return error.empty();
}

bool EarlierPrint::restore(std::string& error)
{
    if (m_aside.empty())
        return true;
    std::vector<std::string> stay;
    for (const std::string& name : m_names)
        if (const int failed = putBack(m_aside + "/" + name, m_dir + "/" + name)) {
            if (stay.empty())
                error = "the earlier print's " + name + " stays in " + m_aside + ": " +
                        (failed == EEXIST ? m_dir + "/" + name + " is there again" : strerror(failed));
            stay.push_back(name);
        }
    m_names = stay;
    if (!stay.empty())
        return false;
    rmdir(m_aside.c_str());
    m_aside.clear();
    return true;
}
