#pragma once

#include "base/Shell.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A shell seam that runs nothing: it records every command line (an exec call
// as its words, quoted where needed) and answers from a script. Installed for
// its lifetime.
class RecordingShell : public Shell
{
public:
    RecordingShell();
    ~RecordingShell() override;

    // Commands starting with `prefix` answer `status` (a raw wait status; use
    // exitStatus) and print `output`. Later scripts win. Unscripted commands
    // answer exit status 0 and no output.
    void script(const std::string& prefix, int status, const std::string& output = "");
    static int exitStatus(int code) { return code << 8; }

    std::vector<std::string> commands() const;
    void clear();

    int run(const std::string& command) override;
    int capture(const std::string& command, std::string* output) override;
    int exec(const std::string& program, const std::vector<std::string>& args, std::string* output) override;

private:
    struct Answer
    {
        std::string prefix;
        int status;
        std::string output;
    };

    int answer(const std::string& command, std::string* output);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::vector<Answer> m_answers;
};

} // namespace testsupport
