// File helpers: copies that never lose the old destination, removals that
// tell the truth and never leave the tree they were given.
#include "base/files/Utils.h"
#include "support/RecordingShell.h"
#include "support/ScratchFolders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

using testsupport::entriesIn;
using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::writeFile;

namespace {

std::string fs(const std::string& boardPath)
{
    return scratchRoot() + boardPath;
}

std::string randomBytes(size_t size)
{
    std::mt19937 random(1);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Writes a file, making its folders first.
void put(const std::string& path, const std::string& content)
{
    makeDirs(path.substr(0, path.rfind('/')));
    writeFile(path, content);
}

class UtilsFiles : public ::testing::Test
{
protected:
    void SetUp() override { makeDirs(fs("/data/model")); }
};

} // namespace

TEST_F(UtilsFiles, CopyReplacesTheDestinationWithTheWholeSource)
{
    const std::string content = randomBytes(3 << 20);
    writeFile(fs("/data/model/a.qds"), content);
    writeFile(fs("/data/model/b.qds"), "old destination");
    EXPECT_EQ(Utils::COPY_OK, Utils::copyFile("/data/model/a.qds", "/data/model/b.qds"));
    EXPECT_EQ(content, readFile(fs("/data/model/b.qds")));
    EXPECT_EQ(2, entriesIn(fs("/data/model"))) << "a temporary file was left behind";

    writeFile(fs("/data/model/empty"), "");
    EXPECT_EQ(Utils::COPY_OK, Utils::copyFile("/data/model/empty", "/data/model/b.qds"));
    EXPECT_EQ("", readFile(fs("/data/model/b.qds")));
}

TEST_F(UtilsFiles, CopyRefusalsLeaveTheDestinationAlone)
{
    writeFile(fs("/data/model/a.qds"), "source");
    writeFile(fs("/data/model/b.qds"), "old destination");
    ASSERT_EQ(0, link(fs("/data/model/a.qds").c_str(), fs("/data/model/hard.qds").c_str()));
    makeDirs(fs("/data/model/folder"));

    EXPECT_EQ(Utils::COPY_NO_SOURCE, Utils::copyFile("/data/model/missing", "/data/model/b.qds"));
    EXPECT_EQ(Utils::COPY_NO_SOURCE, Utils::copyFile("/data/model/missing", "/data/model/new.qds"));
    EXPECT_FALSE(fileExists(fs("/data/model/new.qds")));
    EXPECT_EQ(Utils::COPY_NO_SOURCE, Utils::copyFile("/data/model/folder", "/data/model/b.qds"));
    EXPECT_EQ(Utils::COPY_NO_DESTINATION, Utils::copyFile("/data/model/a.qds", "/data/model/a.qds"));
    EXPECT_EQ(Utils::COPY_NO_DESTINATION, Utils::copyFile("/data/model/a.qds", "/data/model/hard.qds"));
    EXPECT_EQ(Utils::COPY_NO_DESTINATION, Utils::copyFile("/data/model/a.qds", "/data/model/folder"));
    EXPECT_EQ(Utils::COPY_NO_DESTINATION, Utils::copyFile("/data/model/a.qds", "/data/nowhere/b.qds"));

    EXPECT_EQ("source", readFile(fs("/data/model/a.qds")));
    EXPECT_EQ("old destination", readFile(fs("/data/model/b.qds")));
    EXPECT_EQ(0, entriesIn(fs("/data/model/folder")));
}

TEST_F(UtilsFiles, AFailedWriteKeepsTheOldDestination)
{
    writeFile(fs("/data/model/a.qds"), randomBytes(3 << 20));
    writeFile(fs("/data/model/b.qds"), "old destination");
    // A file-size limit in a child stands in for a full disk.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(Utils::copyFile("/data/model/a.qds", "/data/model/b.qds"));
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(Utils::COPY_WRITE_ERROR, WEXITSTATUS(status));
    EXPECT_EQ("old destination", readFile(fs("/data/model/b.qds")));
    EXPECT_EQ(2, entriesIn(fs("/data/model")));
}

TEST_F(UtilsFiles, AFailedReadKeepsTheOldDestination)
{
    // The process's own memory file reads as a regular file and fails at address 0.
    ASSERT_EQ(0, symlink("/proc/self/mem", fs("/data/model/mem").c_str()));
    writeFile(fs("/data/model/b.qds"), "old destination");
    EXPECT_EQ(Utils::COPY_READ_ERROR, Utils::copyFile("/data/model/mem", "/data/model/b.qds"));
    EXPECT_EQ("old destination", readFile(fs("/data/model/b.qds")));
    EXPECT_EQ(2, entriesIn(fs("/data/model")));
}

TEST_F(UtilsFiles, RemoveFileSaysWhetherThePathIsGone)
{
    writeFile(fs("/data/model/a.qds"), "x");
    EXPECT_TRUE(Utils::removeFile("/data/model/a.qds"));
    EXPECT_FALSE(fileExists(fs("/data/model/a.qds")));
    EXPECT_TRUE(Utils::removeFile("/data/model/a.qds"));
    put(fs("/data/model/full/x"), "x");
    EXPECT_FALSE(Utils::removeFile("/data/model/full"));
}

TEST_F(UtilsFiles, MoveReplacesADestinationFile)
{
    writeFile(fs("/data/model/a.qds"), "new");
    writeFile(fs("/data/model/b.qds"), "old");
    EXPECT_TRUE(Utils::moveFile("/data/model/a.qds", "/data/model/b.qds"));
    EXPECT_EQ("new", readFile(fs("/data/model/b.qds")));
    EXPECT_FALSE(fileExists(fs("/data/model/a.qds")));
    EXPECT_FALSE(Utils::moveFile("/data/model/a.qds", "/data/model/c.qds"));
}

TEST_F(UtilsFiles, MoveAcrossFileSystemsCopiesThenRemovesTheSource)
{
    // A folder on the memory file system, reached from the scratch root by a link.
    const std::string other = testsupport::makeScratchFolder("/dev/shm");
    ASSERT_FALSE(other.empty()) << "no /dev/shm";
    struct stat here{}, there{};
    ASSERT_EQ(0, stat(scratchRoot().c_str(), &here));
    ASSERT_EQ(0, stat(other.c_str(), &there));
    if (here.st_dev == there.st_dev) {
        rmdir(other.c_str());
        GTEST_SKIP() << "/dev/shm and the scratch root share a file system";
    }
    makeDirs(fs("/media"));
    ASSERT_EQ(0, symlink(other.c_str(), fs("/media/shm").c_str()));

    const std::string content = randomBytes(1 << 20);
    writeFile(other + "/a.qds", content);
    writeFile(fs("/data/model/a.qds"), "old");
    EXPECT_TRUE(Utils::moveFile("/media/shm/a.qds", "/data/model/a.qds"));
    EXPECT_TRUE(readFile(fs("/data/model/a.qds")) == content);
    EXPECT_FALSE(fileExists(other + "/a.qds"));
    EXPECT_EQ(1, entriesIn(fs("/data/model"))); // no temporary file left beside it

    // Back the other way; a copy that cannot be made keeps the source.
    EXPECT_TRUE(Utils::moveFile("/data/model/a.qds", "/media/shm/b.qds"));
    EXPECT_TRUE(readFile(other + "/b.qds") == content);
    EXPECT_FALSE(fileExists(fs("/data/model/a.qds")));
    EXPECT_FALSE(Utils::moveFile("/media/shm/b.qds", "/data/no-such-folder/b.qds"));
    EXPECT_TRUE(fileExists(other + "/b.qds"));

    ASSERT_EQ(0, system(("rm -r '" + other + "'").c_str()));
}

TEST_F(UtilsFiles, RemoveDirRemovesTheTreeButNothingOutsideIt)
{
    put(fs("/data/outside/keep"), "keep");
    put(fs("/data/tree/a"), "a");
    put(fs("/data/tree/sub/deeper/b"), "b");
    ASSERT_EQ(0, symlink(fs("/data/outside").c_str(), fs("/data/tree/sub/link").c_str()));
    ASSERT_EQ(0, symlink(fs("/data/nothing").c_str(), fs("/data/tree/broken").c_str()));
    EXPECT_TRUE(Utils::removeDir("/data/tree"));
    EXPECT_FALSE(fileExists(fs("/data/tree")));
    EXPECT_EQ("keep", readFile(fs("/data/outside/keep")));

    // A link given as the folder itself is removed as a link.
    ASSERT_EQ(0, symlink(fs("/data/outside").c_str(), fs("/data/alias").c_str()));
    EXPECT_TRUE(Utils::removeDir("/data/alias"));
    EXPECT_EQ("keep", readFile(fs("/data/outside/keep")));

    EXPECT_TRUE(Utils::removeDir("/data/missing"));
    EXPECT_FALSE(Utils::removeDir(""));

    // Hidden entries are not listed, so their folder stays.
    put(fs("/data/hidden/.keep"), "x");
    writeFile(fs("/data/hidden/shown"), "x");
    EXPECT_FALSE(Utils::removeDir("/data/hidden"));
    EXPECT_TRUE(fileExists(fs("/data/hidden/.keep")));
    EXPECT_FALSE(fileExists(fs("/data/hidden/shown")));
}

TEST_F(UtilsFiles, RemoveDirTakesTheTemporariesOfInterruptedCopies)
{
    // What a copy killed midway leaves beside its destination, deeper down too.
    put(fs("/data/pkg/.update.tar.Ab12Z9"), "half a copy");
    put(fs("/data/pkg/sub/.x.qds.000000"), "half a copy");
    put(fs("/data/pkg/.x.qds.Ab12Z9/.kept"), "a folder is not a temporary file");
    EXPECT_TRUE(Utils::removeDir("/data/pkg/sub"));
    EXPECT_FALSE(Utils::removeDir("/data/pkg"));
    EXPECT_FALSE(fileExists(fs("/data/pkg/.update.tar.Ab12Z9")));
    EXPECT_TRUE(fileExists(fs("/data/pkg/.x.qds.Ab12Z9/.kept")));

    // Names that only look alike are someone's hidden files.
    for (const char* name : {".profile", ".a.b", ".x.qds.Ab12Z", ".x.qds.Ab-2Z9", "..abcdef", "x.qds.Ab12Z9"})
        put(fs("/data/look/") + name, "x");
    EXPECT_FALSE(Utils::removeDir("/data/look"));
    EXPECT_EQ(5, entriesIn(fs("/data/look")));
}

TEST_F(UtilsFiles, LookupsAndNames)
{
    for (const char* name : {"1.2.9", "1.10.0", "abc", ".9.9.9", "2.0"})
        makeDirs(fs("/data/versions/") + name);
    writeFile(fs("/data/versions/9.9.9"), "a file, not a folder");
    std::string latest = "untouched";
    Utils::latestVersionDir("/data/versions", latest);
    EXPECT_EQ("1.2.9", latest); // byte-wise, not numeric
    Utils::latestVersionDir("/data/model", latest);
    EXPECT_EQ("", latest);
    latest = "untouched";
    Utils::latestVersionDir("/data/missing", latest);
    EXPECT_EQ("untouched", latest);

    EXPECT_FALSE(Utils::hasMultipleDots(""));
    EXPECT_FALSE(Utils::hasMultipleDots("a.b"));
    EXPECT_TRUE(Utils::hasMultipleDots("a.b.c"));

    writeFile(fs("/data/model/b.corbin"), "");
    writeFile(fs("/data/model/a.corbin"), "");
    writeFile(fs("/data/model/0.txt"), "");
    EXPECT_EQ("/data/model/a.corbin", Utils::findCorbinFile("/data/model"));
    EXPECT_EQ("", Utils::findCorbinFile("/data/versions"));
    EXPECT_EQ("/data/model/x", Utils::joinPath("/data/model", "x"));

    int h = -1, m = -1, s = -1;
    Utils::secondsToHourMin(3725, h, m);
    EXPECT_EQ(1, h);
    EXPECT_EQ(2, m);
    Utils::secondsToHourMinSec(3725, h, m, s);
    EXPECT_EQ(5, s);
}

TEST_F(UtilsFiles, SvgxCompletenessLooksAtTheLast512Bytes)
{
    const std::string body = "<svg>" + std::string(2000, ' ');
    writeFile(fs("/data/model/whole.SVGX"), body + "</svg>\n");
    writeFile(fs("/data/model/cut.svgx"), body);
    writeFile(fs("/data/model/short.svgx"), "<svg>" + std::string(100, ' ') + "</svg>");
    writeFile(fs("/data/model/other.svg"), body + "</svg>");
    writeFile(fs("/data/model/early.svgx"), "<svg></svg>" + std::string(600, ' '));
    EXPECT_TRUE(Utils::isSvgxComplete("/data/model/whole.SVGX"));
    EXPECT_FALSE(Utils::isSvgxComplete("/data/model/cut.svgx"));
    EXPECT_FALSE(Utils::isSvgxComplete("/data/model/short.svgx"));
    EXPECT_FALSE(Utils::isSvgxComplete("/data/model/other.svg"));
    EXPECT_FALSE(Utils::isSvgxComplete("/data/model/early.svgx"));
    EXPECT_FALSE(Utils::isSvgxComplete("/data/model/missing.svgx"));
}

// A FIFO under a model's name (a disk can hold one) is no model, and nobody waits on it.
TEST_F(UtilsFiles, ModelChecksAndCopiesNeverWaitOnAFifo)
{
    ASSERT_EQ(0, mkfifo(fs("/data/model/pipe.svgx").c_str(), 0600));
    EXPECT_EQ(0, testsupport::callBesideIdleFifo(fs("/data/model/pipe.svgx"), [] {
        return int(Utils::isSvgxComplete("/data/model/pipe.svgx"));
    }));
    EXPECT_EQ(Utils::COPY_NO_SOURCE, testsupport::callBesideIdleFifo(fs("/data/model/pipe.svgx"), [] {
        return Utils::copyFile("/data/model/pipe.svgx", "/data/model/copy.svgx");
    }));
    EXPECT_FALSE(fileExists(fs("/data/model/copy.svgx")));
}

TEST_F(UtilsFiles, DiskInfoAndShell)
{
    uint64_t total = 1, free = 1;
    EXPECT_EQ(0, Utils::getDiskInfo("/data", total, free));
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);
    EXPECT_EQ(-ENOENT, Utils::getDiskInfo("/media/sdz9", total, free));
    EXPECT_EQ(0u, total);

    testsupport::RecordingShell shell;
    shell.script("false", testsupport::RecordingShell::exitStatus(1));
    EXPECT_EQ(1, Utils::runShell(""));
    EXPECT_EQ(0, Utils::runShell("true"));
    EXPECT_EQ(256, Utils::runShell("false"));
    EXPECT_EQ((std::vector<std::string>{"true", "false"}), shell.commands());
}
