#pragma once

#include "base/platform/Platform.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A shell seam that runs nothing: it records every command line (an exec call
// or a timed run as its words, quoted where needed) and answers from a
// script. Installed for its lifetime.
class RecordingShell : public Shell
{
public:
    // Commands starting with `prefix` answer `status` (a raw wait status; use
    // exitStatus) and print `output`. Later scripts win. Unscripted commands
    // answer exit status 0 and no output.
    void script(const std::string& prefix, int status, const std::string& output = "");
    static int exitStatus(int code) { return code << 8; }

    // Timed runs starting with `prefix` answer `result` (later scripts win;
    // the plain script above answers them too, as a started run). A run whose
    // cancel descriptor is readable answers cancelled whatever the script.
    void scriptRun(const std::string& prefix, const RunResult& result);
    static RunResult exited(int code, const std::string& output = "", const std::string& errors = "");
    // Killed with its process group after overrunning a limit.
    static RunResult overran(const std::string& output = "");
    static RunResult notStarted(const std::string& why = "No such file or directory");

    // The timed runs asked for, with their limits.
    std::vector<TimedRun> timedRuns() const;

    std::vector<std::string> commands() const;
    void clear();

    int run(const std::string& command) override;
    int capture(const std::string& command, std::string* output) override;
    int exec(const std::string& program, const std::vector<std::string>& args, std::string* output) override;
    RunResult runTimed(const TimedRun& run) override;

private:
    struct Answer
    {
        std::string prefix;
        int status;
        std::string output;
        bool timedOnly;
        RunResult run;
    };

    const Answer* find(const std::string& command, bool timed) const;
    int answer(const std::string& command, std::string* output);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::vector<Answer> m_answers;
    std::vector<TimedRun> m_timedRuns;
    ScopedPlatform m_installed{this}; // last: gone first
};

} // namespace testsupport
