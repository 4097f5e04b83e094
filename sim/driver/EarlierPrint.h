#pragma once

#include <string>
#include <vector>

// What an earlier print left in the output folder: frames ("frame-<layer>.png"),
// the timeline, and temporary files of either, and nothing else. They are
// moved into a hidden folder there until the printer has taken the next file:
// a file it refuses costs none of them, and once the new print runs, its
// frames are never taken for old ones.
class EarlierPrint
{
public:
    EarlierPrint() = default;
    EarlierPrint(const EarlierPrint&) = delete;
    EarlierPrint& operator=(const EarlierPrint&) = delete;
    // Puts back what is still set aside, saying on stderr what could not be.
    ~EarlierPrint();

    // False with the cause in `error` when one cannot be moved; those moved
    // are back in their places then.
    bool setAside(const std::string& dir, std::string& error);
    // The new print has started: they go. False with the cause in `error`
    // when some stay (in the hidden folder).
    bool remove(std::string& error);

private:
    bool restore(std::string& error);

    std::string m_dir;
    std::string m_aside; // the hidden folder; empty when nothing is set aside
    std::vector<std::string> m_names;
};
