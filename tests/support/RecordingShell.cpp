#include "support/RecordingShell.h"

#include <csignal>

namespace testsupport {

namespace {

// Plain words stay as they are, so scripts and checks read naturally.
std::string wordOf(const std::string& text)
{
    const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789_-+=./:,@%") == std::string::npos;
    return plain ? text : shellQuote(text);
}

std::string lineOf(const std::vector<std::string>& words)
{
    std::string line;
    for (const std::string& word : words)
        line += (line.empty() ? "" : " ") + wordOf(word);
    return line;
}

} // namespace

void RecordingShell::script(const std::string& prefix, int status, const std::string& output)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back({prefix, status, output, false, {}});
}

void RecordingShell::scriptRun(const std::string& prefix, const RunResult& result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back({prefix, 0, "", true, result});
}

RunResult RecordingShell::exited(int code, const std::string& output, const std::string& errors)
{
    RunResult result;
    result.started = true;
    result.status = exitStatus(code);
    result.output = output;
    result.errors = errors;
    return result;
}

RunResult RecordingShell::overran(const std::string& output)
{
    RunResult result;
    result.started = true;
    result.timedOut = true;
    result.status = SIGKILL;
    result.output = output;
    return result;
}

RunResult RecordingShell::notStarted(const std::string& why)
{
    RunResult result;
    result.why = why;
    return result;
}

std::vector<TimedRun> RecordingShell::timedRuns() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timedRuns;
}

std::vector<std::string> RecordingShell::commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

void RecordingShell::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.clear();
}

const RecordingShell::Answer* RecordingShell::find(const std::string& command, bool timed) const
{
    for (auto it = m_answers.rbegin(); it != m_answers.rend(); ++it)
        if ((timed || !it->timedOnly) && command.compare(0, it->prefix.size(), it->prefix) == 0)
            return &*it;
    return nullptr;
}

int RecordingShell::answer(const std::string& command, std::string* output)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(command);
    const Answer* found = find(command, false);
    if (!found)
        return 0;
    if (output)
        *output += found->output;
    return found->status;
}

int RecordingShell::run(const std::string& command)
{
    return answer(command, nullptr);
}

int RecordingShell::capture(const std::string& command, std::string* output)
{
    return answer(command, output);
}

int RecordingShell::exec(const std::string& program, const std::vector<std::string>& args, std::string* output)
{
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    return answer(lineOf(words), output);
}

RunResult RecordingShell::runTimed(const TimedRun& run)
{
    const std::string line = lineOf(run.argv);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(line);
    m_timedRuns.push_back(run);
    if (run.cancelRequested()) {
        RunResult result;
        result.cancelled = true;
        return result;
    }
    const Answer* found = find(line, true);
    if (found && found->timedOnly)
        return found->run;
    RunResult result = exited(0, found ? found->output : "");
    if (found)
        result.status = found->status;
    return result;
}

} // namespace testsupport
