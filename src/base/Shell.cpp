#include "Shell.h"

#include "LogWriter.h"
#include "RootPath.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

std::atomic<Shell*> g_installed{nullptr};

Shell& realShell()
{
    static Shell shell;
    return shell;
}

// Output beyond this is read and dropped: no command of the system prints more.
constexpr size_t kMaxOutput = 64u << 20;

// Programs that change the network, the clock, processes, mounts or kernel settings.
const char* const kHostChangers[] = {
    "ip",        "ifconfig", "route",    "udhcpc",  "dhclient", "dhcpcd",   "wpa_supplicant", "wpa_cli",
    "hostapd",   "dnsmasq",  "iw",       "iwconfig", "iwpriv",  "brctl",    "iptables",       "ifup",
    "ifdown",    "tc",       "killall",  "kill",    "pkill",    "hwclock",  "ntpd",           "ntpdate",
    "sntp",      "rdate",    "timedatectl", "mount", "umount",  "swapon",   "swapoff",        "reboot",
    "poweroff",  "halt",     "shutdown", "telinit", "sysctl",   "modprobe", "insmod",         "rmmod",
    "systemctl",
};

bool isWordChar(char c)
{
    return !(isspace(static_cast<unsigned char>(c)) || strchr(";|&()<>`$'\"\\{}!*?", c));
}

struct Word
{
    std::string text;
    bool isCommand; // where the shell looks for a program name
};

// The words of a command line, split wherever the shell might split them.
std::vector<Word> wordsOf(const std::string& command)
{
    static const char* const kLaunchers[] = {"xargs", "sudo", "env",  "nohup", "exec", "busybox", "timeout",
                                             "nice",  "time", "then", "do",    "else", "command"};
    std::vector<Word> words;
    std::string word;
    bool commandPosition = true;
    auto finish = [&] {
        if (word.empty())
            return;
        words.push_back({word, commandPosition});
        commandPosition = std::find(std::begin(kLaunchers), std::end(kLaunchers), word) != std::end(kLaunchers);
        word.clear();
    };
    for (char c : command) {
        if (isWordChar(c)) {
            word += c;
            continue;
        }
        finish();
        if (strchr(";|&()`'\"\n", c))
            commandPosition = true;
    }
    finish();
    return words;
}

std::string baseName(const std::string& word)
{
    const size_t slash = word.rfind('/');
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

bool underRoot(const std::string& path)
{
    const std::string& root = rootPrefix();
    return !root.empty() && path.compare(0, root.size() + 1, root + "/") == 0;
}

// A stub that a test put under the scratch root, found the way the shell finds it.
bool isStubUnderRoot(const std::string& word)
{
    if (word.find('/') != std::string::npos)
        return underRoot(word);
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + word;
        if (access(candidate.c_str(), X_OK) == 0)
            return underRoot(candidate);
        start = end + 1;
    }
    return false;
}

// Writes into kernel settings: "> /proc/sys/..." or "> /sys/...".
bool writesKernelSettings(const std::string& command, std::string* why)
{
    for (size_t at = command.find('>'); at != std::string::npos; at = command.find('>', at + 1)) {
        size_t target = at + 1;
        while (target < command.size() && (command[target] == '>' || command[target] == ' ' || command[target] == '\t'))
            ++target;
        for (const char* prefix : {"/proc/sys/", "/sys/"})
            if (command.compare(target, strlen(prefix), prefix) == 0) {
                *why = prefix;
                return true;
            }
    }
    return false;
}

int refuseIfHostChanging(const std::string& command)
{
    if (rootPrefix().empty())
        return 0;
    std::string why;
    if (!changesHost(command, &why))
        return 0;
    LogWriter::instance()->write(2, "Shell: not running \"%s\" under the scratch root %s: %s would change the host",
                                 command.c_str(), rootPrefix().c_str(), why.c_str());
    return -1;
}

// Starts argv[0] (looked up on PATH when `search`), waits for it and returns
// its raw wait status; the child's standard output goes to `output` when given.
int spawnAndWait(const std::vector<std::string>& args, bool search, std::string* output)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output && pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);

    // The child starts with no signal blocked and default handlers: engine
    // threads block timer signals, and the process may ignore SIGPIPE.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int spawned = search ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ)
                               : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (output)
        close(pipeFds[1]);

    if (spawned != 0) {
        if (output)
            close(pipeFds[0]);
        // As a shell answers a program it cannot start.
        return spawned == ENOENT || spawned == EACCES || spawned == ENOEXEC ? W_EXITCODE(127, 0) : -1;
    }

    if (output) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (output->size() < kMaxOutput)
                output->append(buffer, std::min(static_cast<size_t>(n), kMaxOutput - output->size()));
        }
        close(pipeFds[0]);
    }

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

} // namespace

Shell::~Shell() = default;

Shell& Shell::instance()
{
    Shell* shell = g_installed.load(std::memory_order_acquire);
    return shell ? *shell : realShell();
}

void Shell::install(Shell* shell)
{
    g_installed.store(shell, std::memory_order_release);
}

int Shell::run(const std::string& command)
{
    if (refuseIfHostChanging(command) < 0)
        return -1;
    return spawnAndWait({"/bin/sh", "-c", command}, false, nullptr);
}

int Shell::capture(const std::string& command, std::string* output)
{
    if (refuseIfHostChanging(command) < 0)
        return -1;
    return spawnAndWait({"/bin/sh", "-c", command}, false, output);
}

int Shell::exec(const std::string& program, const std::vector<std::string>& args, std::string* output)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string line;
    for (const std::string& arg : argv)
        line += (line.empty() ? "" : " ") + shellQuote(arg);
    if (refuseIfHostChanging(line) < 0)
        return -1;
    return spawnAndWait(argv, true, output);
}

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

bool changesHost(const std::string& command, std::string* why)
{
    if (writesKernelSettings(command, why))
        return true;
    const std::vector<Word> words = wordsOf(command);
    for (size_t i = 0; i < words.size(); ++i) {
        const Word& word = words[i];
        // A path names a program only where a program stands; a bare name
        // anywhere may reach a program through "sh -c" or xargs.
        if (word.text.find('/') != std::string::npos && !word.isCommand)
            continue;
        const std::string name = baseName(word.text);
        bool changer = std::find_if(std::begin(kHostChangers), std::end(kHostChangers),
                                    [&](const char* p) { return name == p; }) != std::end(kHostChangers);
        // date only changes the clock when asked to set it.
        if (name == "date")
            changer = std::any_of(words.begin() + i + 1, words.end(), [](const Word& w) {
                return w.text == "-s" || w.text.compare(0, 5, "--set") == 0;
            });
        if (changer && !isStubUnderRoot(word.text)) {
            *why = name;
            return true;
        }
    }
    return false;
}
