#pragma once

#include <string>
#include <vector>

// What an earlier print left in the output folder: the frames
// ("frame-<layer>.png") and the timeline, regular files the simulator wrote,
// and nothing else. They are moved into a hidden folder there until the
// printer has taken the next file: a file it refuses costs none of them, and
// once the new print runs, its frames are never taken for old ones. Nothing
// else in the folder is moved or removed, and no removal recurses; a writer's
// temporary file left behind is harmless and stays. Hold the folder
// (holdOutFolder) before any of this.
class EarlierPrint
{
public:
    EarlierPrint() = default;
    EarlierPrint(const EarlierPrint&) = delete;
    EarlierPrint& operator=(const EarlierPrint&) = delete;
    // Puts back what is still set aside, saying on stderr what could not be.
    ~EarlierPrint();

    // Puts back what a run killed after its set-aside left hidden in `dir`,
    // saying on stderr in one line where files stay when their names are
    // taken again.
    static void recoverLeftovers(const std::string& dir);

    // False with the cause in `error` when one cannot be moved, or an entry of
    // an output's name is not a regular file (then nothing is moved); those
    // moved are back in their places then.
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
