// nvsdk::Utils: processes and the shell.
#include "nvsdk/Utils.h"

#include "base/log/RootPath.h"
#include "base/platform/Platform.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nvsdk {

namespace {

// A process id: a /proc entry of digits only ("self" and "thread-self" are
// links to this very process, and taken as numbers would be 0: the whole
// process group).
pid_t pidOf(const char* entry)
{
    if (!*entry || strspn(entry, "0123456789") != strlen(entry) || strlen(entry) > 9)
        return 0;
    return static_cast<pid_t>(atoi(entry));
}

// The value of a "Key:\t..." line of /proc/<pid>/status; false when absent.
bool statusField(pid_t pid, const char* key, std::string* value)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* file = fopen(path, "re");
    if (!file)
        return false;
    char line[4096];
    const size_t keyLength = strlen(key);
    bool found = false;
    while (!found && fgets(line, sizeof line, file)) {
        if (strncmp(line, key, keyLength) != 0)
            continue;
        const char* start = line + keyLength;
        start += strspn(start, " \t");
        *value = std::string(start, strcspn(start, "\n"));
        found = true;
    }
    fclose(file);
    return found;
}

bool isDescendantOfThisProcess(pid_t pid)
{
    const pid_t self = getpid();
    for (int depth = 0; depth < 4096 && pid > 1; ++depth) {
        std::string parent;
        if (!statusField(pid, "PPid:", &parent))
            return false;
        pid = static_cast<pid_t>(atoi(parent.c_str()));
        if (pid == self)
            return true;
    }
    return false;
}

} // namespace

int Utils::killProcessByName(const std::string& name)
{
    DIR* proc = opendir("/proc");
    if (!proc) {
        const int error = errno;
        fprintf(stderr, "src/Utils[%d]: Utils: opendir '/proc' error, %s\n", __LINE__, strerror(error));
        return -error;
    }
    // Tests and the simulator run beside the host's own processes.
    const bool ownOnly = !rootPrefix().empty();
    int result = 0;
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = pidOf(entry->d_name);
        if (pid <= 0)
            continue;
        std::string processName;
        if (!statusField(pid, "Name:", &processName) || processName != name)
            continue;
        if (ownOnly && !isDescendantOfThisProcess(pid))
            continue;
        if (kill(pid, SIGKILL) != 0) {
            const int error = errno;
            fprintf(stderr, "src/Utils[%d]: Utils: kill SIGKILL %s error, %s\n", __LINE__, name.c_str(),
                    strerror(error));
            result = -error;
        }
    }
    closedir(proc);
    return result;
}

int Utils::system(const std::string& command)
{
    if (command.empty())
        return 0;
    std::string output; // read and dropped
    const int status = platform().shell().capture(command, &output);
    if (status == -1) {
        fprintf(stderr, "src/Utils[%d]: system: popen error, %s\n", __LINE__, strerror(errno));
        return -1;
    }
    if (status != 0) {
        fprintf(stderr, "src/Utils[%d]: system: cmd (%s) return status (%d), return value(%d)\n", __LINE__,
                command.c_str(), status, (status >> 8) & 0xff);
        return -1;
    }
    return 0;
}

} // namespace nvsdk
