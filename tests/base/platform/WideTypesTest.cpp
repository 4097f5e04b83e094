// The board is a 32-bit machine: file offsets past 4 GiB and wall-clock times
// past January 2038 must hold there as they do on a 64-bit one. (The cross
// build runs these under emulation.)
#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "base/platform/Platform.h"
#include "base/platform/SysIo.h"
#include "support/Emulator.h"
#include "support/RecordingClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <ctime>

using testsupport::scratchRoot;

namespace {

// A wall clock that reads one fixed instant; installed for its lifetime.
class FixedWallClock : public Clock
{
public:
    explicit FixedWallClock(time_t seconds) : m_seconds(seconds) {}
    timeval wallTime() const override { return timeval{m_seconds, 0}; }

private:
    time_t m_seconds;
    ScopedPlatform m_installed{this};
};

time_t localInstant(int year, int month, int day, int hour)
{
    struct tm broken{};
    broken.tm_year = year - 1900;
    broken.tm_mon = month - 1;
    broken.tm_mday = day;
    broken.tm_hour = hour;
    broken.tm_isdst = -1;
    return mktime(&broken);
}

// Past 4 GiB, so a 32-bit offset cannot hold it even as unsigned.
const off_t kFar = (off_t(5) << 30) + 7;

struct tm localDate(time_t t)
{
    struct tm broken{};
    localtime_r(&t, &broken);
    return broken;
}

bool folderLists(const std::string& folder, const std::string& name)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(dir))
        found = found || name == entry->d_name;
    closedir(dir);
    return found;
}

} // namespace

TEST(WideTypes, ClockSetTenYearsAfterALateBuildPassesJanuary2038)
{
    testsupport::RecordingClock clock;
    const time_t built = PathManager::setClockFromBuildTime("Mar  1 2030", "12:00:00");
    EXPECT_EQ(2030 - 1900, localDate(built).tm_year);

    ASSERT_EQ(1u, clock.settings().size());
    const time_t set = clock.settings()[0].tv_sec;
    EXPECT_GT(static_cast<long long>(set), static_cast<long long>(INT32_MAX)) << "wrapped in January 2038";
    const struct tm later = localDate(set);
    EXPECT_EQ(2040 - 1900, later.tm_year);
    EXPECT_EQ(2, later.tm_mon);
    EXPECT_EQ(1, later.tm_mday);
    EXPECT_EQ(12, later.tm_hour);

    // File times past 2038 cross the kernel boundary whole.
    const std::string path = scratchRoot() + "/stamp";
    testsupport::writeFile(path, "x");
    const timespec times[2] = {{set, 0}, {set, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0)) << strerror(errno);
    EXPECT_EQ(set, Utils::fileAccessTime("/stamp"));
}

TEST(WideTypes, TodaysNoonIsReadPast2038)
{
    FixedWallClock clock(localInstant(2040, 3, 1, 8));
    EXPECT_EQ(static_cast<qint64>(localInstant(2040, 3, 1, 12)), Utils::todayNoonTime());
}

TEST(WideTypes, FileOffsetsPastFourGiBReachTheFile)
{
    const std::string path = scratchRoot() + "/sparse.bin";
    SysIo& io = platform().io();
    const int fd = io.open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0) << strerror(errno);
    ASSERT_EQ(kFar, io.lseek(fd, kFar, SEEK_SET)) << strerror(errno);
    ASSERT_EQ(4, io.write(fd, "tail", 4));
    ASSERT_EQ(kFar, io.lseek(fd, -4, SEEK_END));
    char back[5] = {};
    ASSERT_EQ(4, io.read(fd, back, 4));
    EXPECT_STREQ("tail", back);
    io.close(fd);

    struct stat info{};
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(kFar + 4, info.st_size);
    EXPECT_TRUE(folderLists(scratchRoot(), "sparse.bin"));
}

TEST(WideTypes, MappingPastFourGiBReachesTheFile)
{
    TALVIKS_SKIP_UNDER_EMULATOR("qemu-user 7.2 cuts the offset of mmap2 to 32 bits");
    const std::string path = scratchRoot() + "/sparse.bin";
    SysIo& io = platform().io();
    const int fd = io.open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0) << strerror(errno);
    ASSERT_EQ(4, pwrite(fd, "tail", 4, kFar));

    const off_t page = kFar & ~off_t(sysconf(_SC_PAGESIZE) - 1);
    const size_t length = static_cast<size_t>(kFar - page) + 4;
    void* map = io.mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, page);
    ASSERT_NE(MAP_FAILED, map) << strerror(errno);
    EXPECT_EQ(0, memcmp(static_cast<const char*>(map) + (kFar - page), "tail", 4));
    io.munmap(map, length);
    io.close(fd);
}
