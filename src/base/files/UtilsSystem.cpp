// Utils: disk space, time arithmetic and the shell.
#include "base/files/Utils.h"

#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"

#include <sys/statfs.h>

#include <cerrno>
#include <cstring>
#include <ctime>

int Utils::getDiskInfo(const std::string& path, uint64_t& total, uint64_t& free)
{
    total = 0;
    free = 0;
    struct statfs info{};
    if (statfs(rootPath(path).c_str(), &info) != 0) {
        const int error = errno;
        logger()->write(LogError, std::string("statfs failed: ") + strerror(error));
        return -error;
    }
    total = static_cast<uint64_t>(info.f_blocks) * static_cast<uint64_t>(info.f_bsize);
    free = static_cast<uint64_t>(info.f_bfree) * static_cast<uint64_t>(info.f_bsize);
    return 0;
}

void Utils::secondsToHourMin(int seconds, int& hours, int& minutes)
{
    hours = seconds / 3600;
    minutes = (seconds / 60) % 60;
}

void Utils::secondsToHourMinSec(int seconds, int& hours, int& minutes, int& secs)
{
    secondsToHourMin(seconds, hours, minutes);
    secs = seconds % 60;
}

qint64 Utils::todayNoonTime()
{
    // The day comes from the machine's clock here, not from Qt: a Qt built
    // with a 32-bit time_t reads a clock that wraps in January 2038.
    const time_t now = platform().clock().wallTime().tv_sec;
    struct tm noon{};
    localtime_r(&now, &noon);
    noon.tm_hour = 12;
    noon.tm_min = 0;
    noon.tm_sec = 0;
    noon.tm_isdst = -1;
    return static_cast<qint64>(mktime(&noon));
}

int Utils::runShell(const std::string& command)
{
    if (command.empty())
        return 1;
    return platform().shell().run(command);
}
