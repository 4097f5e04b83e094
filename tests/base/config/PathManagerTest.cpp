// The path table: its values, and the folder work and clock setting of a start.
#include "base/config/ConfigStore.h"
#include "base/config/PathManager.h"
#include "base/log/LogWriter.h"
#include "support/RecordingClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

using testsupport::entriesIn;
using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::writeFile;

TEST(PathManager, ValuesForAProgramInProjectBin)
{
    const PathManager::Table paths = PathManager::pathsFor("/project/bin");
    const char* const expected[_PATH_COUNT] = {
        "/project/bin",      // PATH_APP_DIR
        "/project/bin",      // PATH_BIN_DIR
        "/data/model",       // PATH_MODEL
        "/image",            // PATH_IMAGE
        "/var",              // PATH_VAR
        "/data/var",         // PATH_LOG
        "/data/tmp",         // PATH_TMP
        "/data/TalvikS-package",
        "/kernel",
        "/kernel/ker",
        "/control",
        "/control/ctl",
        "/library",
        "/project/",         // PATH_PROJECT
        "/software2",
        "/data/timestamp",
        "/data/etc",         // PATH_DATA_ETC
        "/data/etc",         // PATH_CONFIG
        "",                  // PATH_UDISK
        "/data/etc/config",
        "/data/etc/wifi.cfg",
        "/etc/_config_",
        "/data/etc/wifipass.cfg",
        "/data/etc/serial",
        "/data/model/.thumb/internal",
        "/tmp/.thumb/udisk",
    };
    for (int id = 0; id < _PATH_COUNT; ++id)
        EXPECT_EQ(expected[id], paths[id].toStdString()) << "id " << id;

    const PathManager::Table deeper = PathManager::pathsFor("/opt/printer/app/bin");
    EXPECT_EQ("/opt/printer/app/", deeper[PATH_PROJECT].toStdString());
    EXPECT_EQ("/opt/printer/kernel/ker", deeper[PATH_KERNEL_FILE].toStdString());

    EXPECT_EQ(0, entriesIn(scratchRoot())) << "computing the values touched the file system";
}

TEST(PathManager, StartPreparesTheFoldersAndSetsTheClockThroughTheSeam)
{
    const std::string root = scratchRoot();
    makeDirs(root + "/data/TalvikS-package/old-update");
    writeFile(root + "/data/TalvikS-package/old-update/pkg.tar.xz", "x");
    writeFile(root + "/data/TalvikS-package/pkg.sig", "x");
    writeFile(root + "/data/TalvikS-package/.pkg.sig.q7Rz0a", "an interrupted copy");
    writeFile(root + "/data/TalvikS-package/old-update/.pkg.tar.xz.Zz9Aa1", "an interrupted copy");
    makeDirs(root + "/data/model/.thumb/internal/sub");
    writeFile(root + "/data/model/.thumb/internal/a.png", "x");
    makeDirs(root + "/tmp/.thumb/udisk");
    writeFile(root + "/tmp/.thumb/udisk/b.png", "x");
    makeDirs(root + "/data");
    writeFile(root + "/data/timestamp", "kept");

    testsupport::RecordingClock clock;
    PathManager paths("/project/bin");

    for (const char* folder : {"/data/model", "/data/etc", "/data/var", "/data/tmp"})
        EXPECT_TRUE(fileExists(root + folder)) << folder;
    for (const char* emptied : {"/data/TalvikS-package", "/data/model/.thumb/internal", "/tmp/.thumb/udisk"}) {
        EXPECT_TRUE(fileExists(root + emptied)) << emptied;
        EXPECT_EQ(0, entriesIn(root + emptied)) << emptied;
    }
    EXPECT_EQ("kept", readFile(root + "/data/timestamp"));
    EXPECT_EQ("", paths.get(PATH_UDISK).toStdString());
    EXPECT_EQ("/data/etc/serial", paths.get(PATH_SERIAL).toStdString());

    // One setting: ten years after the program was built.
    const std::vector<timeval> settings = clock.settings();
    ASSERT_EQ(1u, settings.size());
    const time_t tenYears = 10L * 365 * 24 * 3600;
    EXPECT_LE(settings[0].tv_sec - tenYears, time(nullptr) + 3 * 24 * 3600);
    EXPECT_GT(settings[0].tv_sec - tenYears, 1577836800); // 2020
    EXPECT_EQ(0, settings[0].tv_usec);
}

// Under umask 000 no folder or file of a start may be left for other local
// users to write: the configuration folder holds the Wi-Fi passwords and the
// station's configuration. One that someone else made open to all is closed.
TEST(PathManager, StartUnderAnOpenUmaskLeavesNothingWritableByOthers)
{
    const std::string root = scratchRoot();
    makeDirs(root + "/data/etc");
    ASSERT_EQ(0, chmod((root + "/data/etc").c_str(), 01777));
    // Settings keep their mode under a closed umask too.
    const mode_t mask = umask(077);
    ConfigStore::instance()->load("/data/etc");
    umask(0);
    {
        testsupport::RecordingClock clock;
        PathManager paths("/project/bin");
        LogWriter::instance()->init("/data/var", "TalvikS", 1, 0x100000, 2, false);
        logger()->write(1, "a line");
        ConfigStore::instance()->load("/data/etc");
    }
    umask(mask);
    const auto modeOf = [&](const char* path) {
        struct stat info{};
        EXPECT_EQ(0, stat((root + path).c_str(), &info)) << path;
        return info.st_mode & 07777;
    };
    for (const char* folder : {"/data", "/data/model", "/data/model/.thumb", "/data/model/.thumb/internal",
                               "/data/var", "/data/tmp", "/data/TalvikS-package", "/tmp/.thumb/udisk"})
        EXPECT_EQ(0755u, modeOf(folder)) << folder;
    EXPECT_EQ(01755u, modeOf("/data/etc"));
    EXPECT_EQ(0644u, modeOf("/data/timestamp"));
    EXPECT_EQ(0644u, modeOf("/data/var/TalvikS.log"));
    EXPECT_EQ(0664u, modeOf("/data/etc/General.json"));
    EXPECT_EQ(0600u, modeOf("/data/etc/WiFiConfig.json"));

}

// The USB thumbnails live under /tmp, where any user may make a folder
// first. One that is not the printer's own (another user's, a link, one open
// to all) is made afresh, removed without following its links; under a
// closed umask every folder still gets its mode.
TEST(PathManager, AThumbnailFolderNotItsOwnIsMadeAfresh)
{
    const std::string thumbs = scratchRoot() + "/tmp/.thumb";
    const std::string reached = scratchRoot() + "/reached"; // what a planted link leads to
    makeDirs(reached + "/inside");
    writeFile(reached + "/marker", "kept");
    rlimit descriptors{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &descriptors));
    const std::vector<std::function<void()>> plants = {
        [&] {
            makeDirs(thumbs);
            ASSERT_EQ(0, chown(thumbs.c_str(), 65534, 65534));
            ASSERT_EQ(0, symlink(reached.c_str(), (thumbs + "/udisk").c_str()));
        },
        [&] { ASSERT_EQ(0, symlink(reached.c_str(), thumbs.c_str())); },
        [&] {
            makeDirs(thumbs + "/udisk");
            ASSERT_EQ(0, chmod(thumbs.c_str(), 0777));
            ASSERT_EQ(0, symlink((reached + "/marker").c_str(), (thumbs + "/udisk/a.png").c_str()));
        },
        [&] { // deeper than the descriptors left: a removal in its place fails midway
            std::string deep = thumbs;
            for (int level = 0; level < 100; ++level)
                deep += "/d";
            makeDirs(deep);
            ASSERT_EQ(0, chown(thumbs.c_str(), 65534, 65534));
            const rlimit few{48, descriptors.rlim_max};
            ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &few));
        },
    };
    const mode_t mask = umask(077);
    for (size_t i = 0; i < plants.size(); ++i) {
        SCOPED_TRACE(i);
        plants[i]();
        testsupport::RecordingClock clock;
        PathManager paths("/project/bin");
        setrlimit(RLIMIT_NOFILE, &descriptors);
        for (const std::string& folder : {thumbs, thumbs + "/udisk"}) {
            struct stat info{};
            ASSERT_EQ(0, lstat(folder.c_str(), &info)) << folder;
            EXPECT_EQ(S_IFDIR | 0755u, info.st_mode) << folder;
            EXPECT_EQ(geteuid(), info.st_uid) << folder;
        }
        EXPECT_EQ("kept", readFile(reached + "/marker"));
        EXPECT_EQ(2, entriesIn(reached));
        std::filesystem::remove_all(thumbs);
    }
    umask(mask);
    // Where no folder of ours can be made, no USB thumbnail folder is handed out.
    std::filesystem::remove_all(scratchRoot() + "/tmp");
    writeFile(scratchRoot() + "/tmp", "not a folder");
    testsupport::RecordingClock clock;
    EXPECT_EQ("", PathManager("/project/bin").get(PATH_THUMB_UDISK).toStdString());
}

TEST(PathManager, BuildTimeIsReadAsTheCompilerWritesIt)
{
    testsupport::RecordingClock clock;
    struct tm expected{};
    expected.tm_year = 2023 - 1900;
    expected.tm_mon = 5;
    expected.tm_mday = 5;
    expected.tm_hour = 19;
    expected.tm_min = 30;
    expected.tm_sec = 49;
    struct tm later = expected;
    const time_t built = mktime(&expected);
    later.tm_year += 10;
    later.tm_isdst = expected.tm_isdst;

    EXPECT_EQ(built, PathManager::setClockFromBuildTime("Jun  5 2023", "19:30:49"));
    ASSERT_EQ(1u, clock.settings().size());
    EXPECT_EQ(mktime(&later), clock.settings()[0].tv_sec);

    struct tm december{};
    december.tm_year = 2024 - 1900;
    december.tm_mon = 11;
    december.tm_mday = 31;
    EXPECT_EQ(mktime(&december), PathManager::setClockFromBuildTime("Dec 31 2024", "00:00:00"));
}

TEST(PathManagerDeathTest, AnIdBeyondTheTableStopsTheProcess)
{
    testsupport::RecordingClock clock;
    PathManager paths("/project/bin");
    EXPECT_DEATH(paths.get(PathId(_PATH_COUNT)), "id < _PATH_COUNT");
}
