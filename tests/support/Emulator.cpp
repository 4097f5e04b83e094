#include "support/Emulator.h"

#include <unistd.h>

#include <climits>
#include <sstream>

namespace testsupport {

const std::vector<std::string>& emulator()
{
    static const std::vector<std::string> words = [] {
        std::vector<std::string> result;
#ifdef TALVIKS_TEST_EMULATOR
        std::istringstream list(TALVIKS_TEST_EMULATOR);
        for (std::string word; list >> word;)
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

std::vector<std::string> programArgv(const std::string& program)
{
    std::vector<std::string> argv = emulator();
    argv.push_back(program);
    return argv;
}

} // namespace testsupport
