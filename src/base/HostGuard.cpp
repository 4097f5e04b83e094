// The host guard of the real Shell runner. A deny list of words is easily
// passed (quoted names, escapes, a path, a launcher); an allow list is not:
// the command line is read the way the shell reads it, and every program it
// would start must be a stub under the scratch root or a harmless tool.
#include "base/HostGuard.h"

#include "base/LogWriter.h"
#include "base/RootPath.h"
#include "base/ShellWords.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>

namespace {

// Tools that read, print or change only the files they are given.
const char* const kHarmless[] = {
    "sh",       "bash",     "dash",     "ash",      "printf",  "echo",     "cat",      "grep",    "egrep",
    "fgrep",    "awk",      "gawk",     "mawk",     "sed",     "cut",      "tr",       "head",    "tail",
    "sort",     "uniq",     "wc",       "ls",       "cp",      "mv",       "rm",       "mkdir",   "rmdir",
    "touch",    "ln",       "chmod",    "test",     "[",       "true",     "false",    "sleep",   "uname",
    "qrencode", "zbarimg",  "md5sum",   "sha1sum",  "sha256sum", "tar",    "unxz",     "xz",      "gzip",
    "gunzip",   "zcat",     "ps",       "date",     "sync",    "stat",     "find",     "basename", "dirname",
    "readlink", "realpath", "tee",      "df",       "du",      "xargs",    "env",      "nohup",   "timeout",
    "nice",     "expr",     "seq",      "od",       "cmp",     "diff",     "mktemp",   "dd",      "pidof",
    "id",       "whoami",   "pwd",      "which",    "yes",     "openssl",  "lrelease", "busybox", "setsid",
    "stdbuf",   "truncate", "install",
    // shell keywords and builtins that start nothing
    "if", "then", "else", "elif", "fi", "do", "done", "while", "until", "for", "in", "{", "}", "!", ":", "cd",
    "exit", "export", "set", "unset", "read", "shift", "wait", "return", "local", "umask", "type", "break",
    "continue", "readonly", "getopts", "hash", "exec", "command", "time", "eval", ".", "source",
};

// Shell words after which a command follows.
const char* const kKeywords[] = {"if", "then", "else", "elif", "do", "while", "until", "{", "!"};
// Programs that start the program named by their arguments.
const char* const kLaunchers[] = {"env", "nohup", "exec", "command", "nice", "timeout", "time",
                                  "xargs", "busybox", "setsid", "stdbuf"};
// Their options that take the next word as a value.
const char* const kLauncherValueOptions[] = {"-I", "-n", "-L", "-P", "-s", "-d", "-E", "-a", "-k",
                                             "-u", "-C", "-o", "-i", "-e", "--signal", "--kill-after"};
// Tools that write to (or remove) every path they are given.
const char* const kWriters[] = {"tee",  "mv",     "rm",   "touch", "mkdir", "rmdir", "chmod",
                                "truncate", "gzip", "gunzip", "unxz", "xz"};
// Tools that write only to their last path.
const char* const kCopiers[] = {"cp", "ln", "install"};
// Devices any test may write to.
const char* const kHarmlessDevices[] = {"/dev/null", "/dev/zero", "/dev/stdout", "/dev/stderr", "/dev/stdin",
                                        "/dev/tty", "/dev/fd"};
const char* const kSystemBinDirs[] = {"/bin", "/usr/bin", "/sbin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"};

template <size_t N>
bool isOneOf(const std::string& word, const char* const (&list)[N])
{
    return std::find_if(std::begin(list), std::end(list), [&](const char* item) { return word == item; }) !=
           std::end(list);
}

bool isUnder(const std::string& path, const std::string& tree)
{
    return path == tree || (path.compare(0, tree.size(), tree) == 0 && path.size() > tree.size() &&
                            (tree.back() == '/' || path[tree.size()] == '/'));
}

// Where a command line stands: the folder its relative paths start from
// (a "cd" moves it) and how deep in nested shells it is.
struct Walk
{
    std::string cwd;
    int depth = 0;

    std::string resolve(const std::string& path) const
    {
        return absoluteNormalPath(path.empty() || path[0] == '/' ? path : cwd + "/" + path);
    }
};

bool underScratchRoot(const std::string& normalPath)
{
    static const std::string root = rootPrefix().empty() ? "" : absoluteNormalPath(rootPrefix());
    return !root.empty() && isUnder(normalPath, root);
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isAssignment(const std::string& word)
{
    const size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0)
        return false;
    return std::all_of(word.begin(), word.begin() + static_cast<long>(equals),
                       [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// The first executable of that name on PATH; empty when none.
std::string findOnPath(const std::string& name)
{
    const char* path = getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}


bool checkLine(const std::string& line, Walk walk, std::string* why);

bool refuse(std::string* why, const std::string& reason)
{
    *why = reason;
    return false;
}

// The arguments of a tool that name paths it writes to.
std::vector<ShellWord> writtenPaths(const std::string& tool, const std::vector<ShellWord>& words, size_t from)
{
    std::vector<ShellWord> paths;
    auto valueOf = [&](size_t j, const char* shortOption, const char* longOption) {
        const std::string& arg = words[j].text;
        if (arg == shortOption && j + 1 < words.size())
            paths.push_back(words[j + 1]);
        else if (arg.compare(0, strlen(longOption), longOption) == 0)
            paths.push_back({arg.substr(strlen(longOption)), words[j].dynamic, false});
    };
    const bool inPlace = std::any_of(words.begin() + static_cast<long>(from), words.end(), [](const ShellWord& w) {
        return w.text.compare(0, 2, "-i") == 0 || w.text.compare(0, 10, "--in-place") == 0;
    });
    for (size_t j = from; j < words.size(); ++j) {
        const std::string& arg = words[j].text;
        if (tool == "dd" && arg.compare(0, 3, "of=") == 0)
            paths.push_back({arg.substr(3), words[j].dynamic, false});
        else if (tool == "tar")
            valueOf(j, "-C", "--directory=");
        else if (tool == "qrencode")
            valueOf(j, "-o", "--output=");
        else if (isOneOf(tool, kCopiers))
            valueOf(j, "-t", "--target-directory=");
        else if ((isOneOf(tool, kWriters) || (tool == "sed" && inPlace)) && arg[0] != '-')
            paths.push_back(words[j]);
    }
    if (isOneOf(tool, kCopiers) && words.size() > from && words.back().text[0] != '-')
        paths.push_back(words.back());
    return paths;
}

bool mayWrite(const ShellWord& target, const Walk& walk, std::string* why)
{
    if (target.dynamic)
        return refuse(why, "a write to a path known only at run time");
    const std::string& path = target.text;
    if (path.empty())
        return true;
    const std::string normal = walk.resolve(path);
    if (underScratchRoot(normal))
        return true;
    for (const char* device : kHarmlessDevices)
        if (isUnder(normal, device))
            return true;
    // Files in the temporary folder beside the scratch root, not the folder itself.
    const char* tmp = getenv("TMPDIR");
    for (const std::string& folder : {absoluteNormalPath(tmp && *tmp ? tmp : "/tmp"), std::string("/tmp")})
        if (normal != folder && isUnder(normal, folder))
            return true;
    return refuse(why, "a write to " + normal + " outside the scratch root");
}

// Where `date` would set the clock: "-s", "--set", or a bare time operand.
bool setsTheClock(const std::vector<ShellWord>& words, size_t from)
{
    for (size_t i = from; i < words.size(); ++i) {
        const std::string& arg = words[i].text;
        if (words[i].dynamic)
            return true;
        if (arg == "-d" || arg == "-r" || arg == "--date" || arg == "--reference" || arg == "-I") {
            ++i;
        } else if (arg.compare(0, 2, "--") == 0) {
            if (arg.compare(0, 5, "--set") == 0)
                return true;
        } else if (arg[0] == '-') {
            if (arg.find('s') != std::string::npos)
                return true;
            if (arg.back() == 'd' || arg.back() == 'r')
                ++i;
        } else if (arg[0] != '+') {
            return true;
        }
    }
    return false;
}

// The index of the program a launcher starts; words.size() when none.
size_t launched(const std::vector<ShellWord>& words, size_t from)
{
    size_t i = from;
    while (i < words.size()) {
        const std::string& arg = words[i].text;
        if (isOneOf(arg, kLauncherValueOptions))
            i += 2;
        else if (arg[0] == '-' || isAssignment(arg) ||
                 (!arg.empty() && arg.find_first_not_of("0123456789.smhd") == std::string::npos && isdigit(arg[0])))
            ++i;
        else
            break;
    }
    return i;
}

// A shell started as a program: its "-c" text is checked as a command line;
// it may run a script only from under the scratch root.
bool checkShell(const std::vector<ShellWord>& words, size_t from, const Walk& walk, std::string* why)
{
    for (size_t i = from; i < words.size(); ++i) {
        const std::string& arg = words[i].text;
        if (words[i].dynamic)
            return refuse(why, "a shell running something known only at run time");
        if (arg[0] == '-' && arg != "-" && arg != "--") {
            if (arg[1] != '-' && arg.find('c') != std::string::npos) {
                if (i + 1 >= words.size() || words[i + 1].dynamic)
                    return refuse(why, "a shell running something known only at run time");
                Walk inner = walk;
                ++inner.depth;
                return checkLine(words[i + 1].text, inner, why);
            }
            continue;
        }
        if (underScratchRoot(walk.resolve(arg)))
            return true;
        return refuse(why, "a shell script outside the scratch root: " + arg);
    }
    return refuse(why, "a shell reading its commands from its input");
}

bool checkCommand(const std::vector<ShellWord>& words, const std::vector<ShellWord>& writes, Walk& walk, std::string* why)
{
    for (const ShellWord& target : writes)
        if (!mayWrite(target, walk, why))
            return false;
    size_t i = 0;
    for (const ShellWord& word : words)
        if (word.text.compare(0, 5, "PATH=") == 0)
            return refuse(why, "a changed PATH");
    while (i < words.size()) {
        if (isAssignment(words[i].text)) {
            ++i;
            continue;
        }
        const ShellWord& program = words[i];
        if (program.dynamic || (program.pattern && program.text != "[" && program.text != "{"))
            return refuse(why, "a program known only at run time");
        const std::string& name = program.text;
        if (name.find('/') != std::string::npos) {
            const std::string path = walk.resolve(name);
            if (underScratchRoot(path))
                return true; // a stub: its arguments are its own business
            const std::string dir = path.substr(0, path.rfind('/'));
            if (!isOneOf(baseName(path), kHarmless) ||
                std::none_of(std::begin(kSystemBinDirs), std::end(kSystemBinDirs),
                             [&](const char* d) { return dir == d; }))
                return refuse(why, baseName(path));
        } else {
            const std::string found = findOnPath(name);
            if (!found.empty() && underScratchRoot(walk.resolve(found)))
                return true;
            if (!isOneOf(name, kHarmless))
                return refuse(why, name);
        }
        const std::string tool = baseName(name);
        if (isOneOf(tool, kKeywords)) { // a command follows
            ++i;
            continue;
        }
        if (tool == "for" || tool == "in")
            return true; // a loop variable and its words
        if (isOneOf(tool, kLaunchers)) {
            i = launched(words, i + 1);
            continue;
        }
        if (tool == "sh" || tool == "bash" || tool == "dash" || tool == "ash")
            return checkShell(words, i + 1, walk, why);
        if (tool == "eval") {
            std::string line;
            for (size_t j = i + 1; j < words.size(); ++j) {
                if (words[j].dynamic)
                    return refuse(why, "eval of something known only at run time");
                line += words[j].text + " ";
            }
            Walk inner = walk;
            ++inner.depth;
            return checkLine(line, inner, why);
        }
        if ((tool == "." || tool == "source") &&
            (i + 1 >= words.size() || !underScratchRoot(walk.resolve(words[i + 1].text))))
            return refuse(why, "a script outside the scratch root");
        if (tool == "date" && setsTheClock(words, i + 1))
            return refuse(why, "date setting the clock");
        if (tool == "awk" || tool == "gawk" || tool == "mawk") {
            for (size_t j = i + 1; j < words.size(); ++j)
                if (words[j].text.find("system") != std::string::npos ||
                    (words[j].text.find('|') != std::string::npos && words[j - 1].text != "-F"))
                    return refuse(why, "awk starting a program");
        }
        if (tool == "find") {
            // "-delete" removes what it finds under the starting folders.
            if (std::any_of(words.begin() + static_cast<long>(i) + 1, words.end(),
                            [](const ShellWord& w) { return w.text == "-delete"; }))
                for (size_t j = i + 1; j < words.size() && words[j].text[0] != '-'; ++j)
                    if (!mayWrite(words[j], walk, why))
                        return false;
            for (size_t j = i + 1; j < words.size(); ++j) {
                const std::string& arg = words[j].text;
                if (arg != "-exec" && arg != "-execdir" && arg != "-ok" && arg != "-okdir")
                    continue;
                size_t end = j + 1;
                while (end < words.size() && words[end].text != ";" && words[end].text != "+")
                    ++end;
                if (!checkCommand({words.begin() + static_cast<long>(j) + 1, words.begin() + static_cast<long>(end)},
                                  {}, walk, why))
                    return false;
                j = end;
            }
        }
        for (const ShellWord& target : writtenPaths(tool, words, i + 1))
            if (!mayWrite(target, walk, why))
                return false;
        // Later relative paths of the line start from there.
        if (tool == "cd" && i + 1 < words.size() && !words[i + 1].dynamic)
            walk.cwd = walk.resolve(words[i + 1].text);
        return true;
    }
    return true;
}

bool checkLine(const std::string& line, Walk walk, std::string* why)
{
    if (walk.depth > 8)
        return refuse(why, "commands nested too deep");
    std::vector<ShellCommand> commands;
    std::vector<std::string> substitutions;
    if (!readShellLine(line, &commands, &substitutions, why))
        return false;
    Walk nested = walk;
    ++nested.depth;
    for (const std::string& inner : substitutions)
        if (!checkLine(inner, nested, why))
            return false;
    for (const ShellCommand& command : commands)
        if (!checkCommand(command.words, command.writes, walk, why))
            return false;
    return true;
}

Walk startingWalk()
{
    Walk walk;
    walk.cwd = absoluteNormalPath(".");
    return walk;
}

bool allowed(bool ok, const std::string& what, const std::string& why)
{
    if (!ok)
        logger()->write(LogWarn, "Shell: not running \"%s\" under the scratch root %s: %s may change the host",
                                     what.c_str(), rootPrefix().c_str(), why.c_str());
    return ok;
}

} // namespace

std::string absoluteNormalPath(const std::string& path)
{
    std::filesystem::path full(path);
    if (full.is_relative()) {
        char cwd[4096];
        full = std::filesystem::path(getcwd(cwd, sizeof cwd) ? cwd : "/") / full;
    }
    std::string normal = full.lexically_normal().string();
    // POSIX leaves a leading "//" to the implementation; the kernel reads it as "/".
    const size_t first = normal.find_first_not_of('/');
    normal = "/" + (first == std::string::npos ? std::string() : normal.substr(first));
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

bool hostGuardAllowsCommand(const std::string& command, std::string* why)
{
    if (rootPrefix().empty())
        return true;
    return allowed(checkLine(command, startingWalk(), why), command, *why);
}

bool hostGuardAllowsProgram(const std::vector<std::string>& argv, std::string* why)
{
    if (rootPrefix().empty() || argv.empty())
        return true;
    std::vector<ShellWord> words;
    std::string line;
    for (const std::string& arg : argv) {
        words.push_back({arg, false});
        line += (line.empty() ? "" : " ") + arg;
    }
    Walk walk = startingWalk();
    return allowed(checkCommand(words, {}, walk, why), line, *why);
}
