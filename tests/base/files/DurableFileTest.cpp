// Rewrites of configuration files and counters: a crash at any instant leaves
// the old file or the new one, and concurrent writers never mix their output.
#include "base/config/ConfigStore.h"
#include "base/files/DurableFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::scratchRoot;

namespace {

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

} // namespace

// A child process saves the usage counters in a loop and is killed at a random
// moment; the file must always parse and hold the counters of one whole save.
TEST(DurableFile, KilledWhileSavingLeavesTheOldOrTheNewFile)
{
    makeDirs(scratchRoot() + "/data/etc");
    ConfigStore& store = *ConfigStore::instance();
    store.load("/data/etc");

    std::mt19937 random(7);
    const int kRuns = 300;
    int killedMidway = 0;
    for (int run = 0; run < kRuns; ++run) {
        ConfigStore reader;
        ASSERT_EQ(0, reader.readUsedTime("/data/etc/UsedTime.json")) << "run " << run;
        const UsedTime before = reader.m_usedTime;
        ASSERT_EQ(before.PrintTime, before.LightTime);
        ASSERT_EQ(before.PrintTime, before.PrintLayer);

        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (uint32_t value = before.PrintTime + 1;; ++value) {
                store.m_usedTime = {value, value, value};
                store.saveUsedTime();
            }
        }
        usleep(std::uniform_int_distribution<useconds_t>(0, 3000)(random));
        ASSERT_EQ(0, kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status));

        ConfigStore after;
        ASSERT_EQ(0, after.readUsedTime("/data/etc/UsedTime.json")) << "run " << run;
        const UsedTime& now = after.m_usedTime;
        EXPECT_EQ(now.PrintTime, now.LightTime) << "run " << run;
        EXPECT_EQ(now.PrintTime, now.PrintLayer) << "run " << run;
        EXPECT_GE(now.PrintTime, before.PrintTime) << "run " << run;
        killedMidway += now.PrintTime > before.PrintTime;
    }
    EXPECT_GT(killedMidway, 0) << "the child never completed a save";

    // Kills inside a save leave temporary files; the next start clears them.
    int temporaries = 0;
    for (const std::string& name : namesIn(scratchRoot() + "/data/etc"))
        temporaries += name.find(".UsedTime.json.") == 0;
    EXPECT_GT(temporaries, 0) << "no kill landed inside a save";
    store.load("/data/etc");
    for (const std::string& name : namesIn(scratchRoot() + "/data/etc"))
        EXPECT_EQ(std::string::npos, name.find(".UsedTime.json.")) << name;
}

TEST(DurableFile, ConcurrentWritersNeverMixAndReadersNeverSeeAPartialFile)
{
    makeDirs(scratchRoot() + "/data/etc");
    const std::string path = "/data/etc/counter";
    const std::string a(200000, 'a');
    const std::string b(70000, 'b');
    ASSERT_EQ(0, durable::replaceFile(path, a));

    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done.load()) {
            const std::string text = readFile(scratchRoot() + path);
            if (text != a && text != b)
                ++bad;
        }
    });
    std::thread writerA([&] {
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(0, durable::replaceFile(path, a));
    });
    std::thread writerB([&] {
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(0, durable::replaceFile(path, b));
    });
    writerA.join();
    writerB.join();
    done = true;
    reader.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_EQ((std::vector<std::string>{"counter"}), namesIn(scratchRoot() + "/data/etc"));
}

TEST(DurableFile, AFailedRewriteKeepsTheOldFileAndSaysWhy)
{
    const std::string folder = scratchRoot() + "/data/etc";
    makeDirs(folder);
    ASSERT_EQ(0, durable::replaceFile("/data/etc/General.json", std::string("old")));
    struct stat info{};
    ASSERT_EQ(0, stat((folder + "/General.json").c_str(), &info));
    EXPECT_EQ(0644u, info.st_mode & 0777);

    EXPECT_EQ(-ENOENT, durable::replaceFile("/data/missing/General.json", std::string("new")));
    if (geteuid() != 0) { // root writes into read-only folders anyway
        chmod(folder.c_str(), 0555);
        EXPECT_EQ(-EACCES, durable::replaceFile("/data/etc/General.json", std::string("new")));
        chmod(folder.c_str(), 0755);
    }
    EXPECT_EQ("old", readFile(folder + "/General.json"));
}
