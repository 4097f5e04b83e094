// Scratch roots left behind by test processes that were killed go at the next
// run; nothing else does: not the folders of live processes, not links, not
// folders that are not ours.
#include "support/Emulator.h"
#include "support/ScratchFolders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

// The pid namespace field of a scratch folder's name.
std::string namespaceField(const std::string& folder)
{
    const std::string name = folder.substr(folder.rfind('/') + 1);
    const size_t start = name.find('.') + 1;
    return name.substr(start, name.find('.', start) - start);
}

// A pid that was in use a moment ago and whose process is gone.
pid_t deadPid()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

} // namespace

TEST(ScratchFolders, OnlyTheFoldersOfGoneProcessesAreRemoved)
{
    const std::string parent = scratchRoot() + "/tmp";
    makeDirs(parent + "/outside");
    writeFile(parent + "/outside/kept", "x");

    const std::string mine = testsupport::makeScratchFolder(parent);
    ASSERT_FALSE(mine.empty());
    const std::string ns = namespaceField(mine);
    EXPECT_NE(std::string::npos, mine.find("." + ns + "." + std::to_string(getpid()) + "."));

    // Left by a process that died without removing it, with a link out of it.
    const std::string dead = std::to_string(deadPid());
    const std::string stale = parent + "/talviks-test." + ns + "." + dead + ".AbC123";
    makeDirs(stale + "/data/var");
    writeFile(stale + "/data/var/log", "x");
    ASSERT_EQ(0, symlink((parent + "/outside").c_str(), (stale + "/data/out").c_str()));

    const std::string kept[] = {
        parent + "/talviks-test." + ns + "." + std::to_string(getppid()) + ".Live01", // a live process
        parent + "/talviks-test.1" + ns + "." + dead + ".OtherN",                    // another pid namespace
        parent + "/talviks-test.AbC123",                                              // no owner in the name
        parent + "/talviks-test." + ns + "." + dead + ".Short",
        parent + "/talviks-demo." + ns + "." + dead + ".AbC123",
    };
    for (const std::string& folder : kept)
        makeDirs(folder);
    const std::string link = parent + "/talviks-test." + ns + "." + dead + ".Link01";
    ASSERT_EQ(0, symlink((parent + "/outside").c_str(), link.c_str()));
    const std::string file = parent + "/talviks-test." + ns + "." + dead + ".File01";
    writeFile(file, "x");

    EXPECT_EQ(1, testsupport::removeStaleScratchFolders(parent));
    EXPECT_FALSE(fileExists(stale));
    EXPECT_TRUE(fileExists(parent + "/outside/kept"));
    EXPECT_TRUE(fileExists(mine));
    for (const std::string& folder : kept)
        EXPECT_TRUE(fileExists(folder)) << folder;
    struct stat info{};
    EXPECT_EQ(0, lstat(link.c_str(), &info));
    EXPECT_TRUE(fileExists(file));
}

// Runs only inside the child started below: killed as a time limit would.
TEST(ScratchFoldersChild, IsKilledBeforeItsEnd)
{
    if (!getenv("TALVIKS_SCRATCH_CHILD"))
        GTEST_SKIP() << "runs in the child process of ScratchFolders";
    raise(SIGKILL);
}

TEST(ScratchFolders, TheRootOfAKilledTestGoesAtTheNextRun)
{
    const std::string parent = scratchRoot() + "/tmp";
    makeDirs(parent);
    std::vector<std::string> argv = testsupport::programArgv(testsupport::selfPath());
    argv.push_back("--gtest_filter=ScratchFoldersChild.*");
    const std::string output = scratchRoot() + "/child.txt";
    const int killed =
        testsupport::runBounded(argv, {"TMPDIR=" + parent, "TALVIKS_SCRATCH_CHILD=1"}, output, 60000);
    ASSERT_TRUE(WIFSIGNALED(killed)) << testsupport::readFile(output);
    ASSERT_EQ(1, testsupport::entriesIn(parent)) << "the killed test left no root behind";

    const std::string mine = testsupport::makeScratchFolder(parent);
    argv.back() = "--gtest_filter=NoSuchTest";
    EXPECT_EQ(0, testsupport::runBounded(argv, {"TMPDIR=" + parent}, output, 60000))
        << testsupport::readFile(output);
    EXPECT_EQ(1, testsupport::entriesIn(parent));
    EXPECT_TRUE(fileExists(mine));
}
