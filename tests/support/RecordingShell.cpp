#include "support/RecordingShell.h"

namespace testsupport {

namespace {

// Plain words stay as they are, so scripts and checks read naturally.
std::string wordOf(const std::string& text)
{
    const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789_-+=./:,@%") == std::string::npos;
    return plain ? text : shellQuote(text);
}

} // namespace

RecordingShell::RecordingShell()
{
    Shell::install(this);
}

RecordingShell::~RecordingShell()
{
    Shell::install(nullptr);
}

void RecordingShell::script(const std::string& prefix, int status, const std::string& output)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back({prefix, status, output});
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

int RecordingShell::answer(const std::string& command, std::string* output)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(command);
    for (auto it = m_answers.rbegin(); it != m_answers.rend(); ++it) {
        if (command.compare(0, it->prefix.size(), it->prefix) == 0) {
            if (output)
                *output += it->output;
            return it->status;
        }
    }
    return 0;
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
    std::string line = wordOf(program);
    for (const std::string& arg : args)
        line += " " + wordOf(arg);
    return answer(line, output);
}

} // namespace testsupport
