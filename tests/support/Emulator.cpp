#include "support/Emulator.h"

#include <unistd.h>

#include <climits>
#include <sstream>

namespace testsupport {

namespace {

std::string shellQuoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace

const std::vector<std::string>& emulator()
{
    static const std::vector<std::string> words = [] {
        std::vector<std::string> result;
#ifdef TALVIKS_TEST_EMULATOR
        std::istringstream words(TALVIKS_TEST_EMULATOR);
        for (std::string word; words >> word;)
            result.push_back(word);
#endif
        return result;
    }();
    return words;
}

std::string selfPath()
{
    // The emulator answers this for the program it runs.
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string programCommand(const std::string& program)
{
    std::string command;
    for (const std::string& word : emulator())
        command += shellQuoted(word) + " ";
    return command + shellQuoted(program);
}

} // namespace testsupport
