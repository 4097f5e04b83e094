// The file under both logs: rotation by size into numbered files, a file
// moved or removed from outside made anew, and the faults of a rotation.
#include "base/log/RootPath.h"
#include "base/log/RotatingFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

using testsupport::eventually;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::splitLines;

namespace {

const std::string kDir = "/data/var/rotating";

std::string fsFile(const std::string& file)
{
    return rootPath(kDir + "/" + file);
}

// A file placed in kDir and opened as at start-up.
void start(RotatingFile& file, const std::string& name, int maxSize, int kept)
{
    testsupport::makeDirs(rootPath(kDir));
    file.place(kDir, name, maxSize, kept);
    ASSERT_EQ(0, file.open());
}

int append(RotatingFile& file, const std::string& line)
{
    return file.append(line.data(), line.size());
}

std::string numberedLine(int i)
{
    char line[32];
    snprintf(line, sizeof line, "line %03d\n", i);
    return line;
}

// The numbers of the lines "line NNN" in `names`, oldest file first.
std::vector<int> lineNumbers(const std::vector<std::string>& names)
{
    std::vector<int> numbers;
    for (const std::string& name : names)
        for (const std::string& line : splitLines(readFile(fsFile(name))))
            if (line.rfind("line ", 0) == 0)
                numbers.push_back(std::stoi(line.substr(5)));
    return numbers;
}

} // namespace

TEST(RotatingFile, RotatesPastItsSizeIntoNumberedFilesNewestFirst)
{
    RotatingFile file(0);
    start(file, "kept", 40, 3);
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(1, append(file, numberedLine(i)));

    // A file rotates once it is past 40 bytes: it holds the line that crossed
    // the limit, 5 lines of 9 bytes.
    for (const char* name : {"kept_3.log", "kept_2.log", "kept_1.log"})
        EXPECT_EQ(45u, readFile(fsFile(name)).size()) << name;
    EXPECT_FALSE(fileExists(fsFile("kept_4.log")));
    const std::vector<int> numbers = lineNumbers({"kept_3.log", "kept_2.log", "kept_1.log", "kept.log"});
    ASSERT_EQ(20u, numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(static_cast<int>(i) + 10, numbers[i]);

    // Starting again: the last file becomes number 1, the new one is empty.
    const std::string last = readFile(fsFile("kept.log"));
    ASSERT_TRUE(file.exists());
    ASSERT_EQ(0, file.rotate());
    ASSERT_EQ(0, file.open());
    EXPECT_EQ(last, readFile(fsFile("kept_1.log")));
    EXPECT_EQ("", readFile(fsFile("kept.log")));
}

TEST(RotatingFile, KeepingNoNumberedFileDropsTheCurrentOne)
{
    RotatingFile file(0);
    start(file, "alone", 20, 0);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(1, append(file, numberedLine(i)));
    EXPECT_FALSE(fileExists(fsFile("alone_1.log")));
    EXPECT_EQ(std::vector<int>({9}), lineNumbers({"alone.log"}));
}

TEST(RotatingFile, OpeningAtStartEmptiesAfterACloseLinesAreAppended)
{
    testsupport::makeDirs(rootPath(kDir));
    testsupport::writeFile(fsFile("again.log"), "left from before\n");
    RotatingFile file(0);
    file.place(kDir, "again", 1000, 2);
    ASSERT_EQ(0, file.open());
    ASSERT_EQ(1, append(file, "first\n"));
    file.close();
    ASSERT_EQ(1, append(file, "after the close\n"));
    EXPECT_EQ("first\nafter the close\n", readFile(fsFile("again.log")));
}

// Someone moves the log aside or removes it: the lines after it go to a new
// file at the path, with no line lost to the moved one.
TEST(RotatingFile, AFileMovedOrRemovedIsMadeAnew)
{
    for (const int intervalMs : {0, 30}) {
        SCOPED_TRACE(intervalMs);
        RotatingFile file(intervalMs);
        const std::string name = "moved" + std::to_string(intervalMs);
        start(file, name, 1 << 20, 2);
        ASSERT_EQ(1, append(file, numberedLine(0)));
        ASSERT_EQ(0, rename(fsFile(name + ".log").c_str(), fsFile("aside.log").c_str()));
        int next = 1;
        const bool reopened = eventually(
            [&] {
                EXPECT_EQ(1, append(file, numberedLine(next++)));
                return fileExists(fsFile(name + ".log"));
            },
            5000, 2000);
        ASSERT_TRUE(reopened);
        if (intervalMs == 0) {
            EXPECT_EQ(2, next); // at the very next line
        }
        ASSERT_EQ(1, append(file, numberedLine(next++)));
        std::vector<int> numbers = lineNumbers({"aside.log", name + ".log"});
        ASSERT_EQ(static_cast<size_t>(next), numbers.size());
        for (int i = 0; i < next; ++i)
            EXPECT_EQ(i, numbers[i]);
        EXPECT_FALSE(lineNumbers({name + ".log"}).empty());

        ASSERT_EQ(0, unlink(fsFile(name + ".log").c_str()));
        ASSERT_TRUE(eventually(
            [&] {
                EXPECT_EQ(1, append(file, "after the removal\n"));
                return fileExists(fsFile(name + ".log"));
            },
            5000, 2000));
        ASSERT_EQ(1, append(file, "and on\n"));
        EXPECT_EQ("after the removal\nand on\n", readFile(fsFile(name + ".log")));
    }
}

// However seldom the path is looked at, the lines written right after a
// removal are in the new file.
TEST(RotatingFile, LinesRightAfterARemovalReachTheNewFile)
{
    RotatingFile file(3600 * 1000);
    start(file, "removed", 1 << 20, 2);
    ASSERT_EQ(1, append(file, numberedLine(0)));
    ASSERT_EQ(0, unlink(fsFile("removed.log").c_str()));
    for (int i = 1; i <= 5; ++i)
        ASSERT_EQ(1, append(file, numberedLine(i)));
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), lineNumbers({"removed.log"}));
}

// A link put in the file's place, before the start or while the log runs,
// is set aside: what it leads to keeps its bytes and mode. A file the log
// did not make keeps its mode.
TEST(RotatingFile, ALinkInItsPlaceIsSetAsideAndAFileNotItsOwnKeepsItsMode)
{
    testsupport::makeDirs(rootPath(kDir));
    const std::string secret = fsFile("secret");
    testsupport::writeFile(secret, "private\n");
    ASSERT_EQ(0, chmod(secret.c_str(), 0600));
    const auto modeOf = [](const std::string& path) {
        struct stat info{};
        EXPECT_EQ(0, lstat(path.c_str(), &info)) << path;
        return info.st_mode;
    };
    const auto replaceLog = [&](const std::string& made) {
        ASSERT_EQ(0, rename(made.c_str(), fsFile("linked.log").c_str()));
    };
    ASSERT_EQ(0, symlink(fsFile("made-through-link").c_str(), fsFile("linked.log").c_str()));
    RotatingFile file(0);
    file.place(kDir, "linked", 1 << 20, 3);
    ASSERT_EQ(0, file.open());
    EXPECT_FALSE(fileExists(fsFile("made-through-link")));

    ASSERT_EQ(0, symlink(secret.c_str(), fsFile("new-link").c_str()));
    replaceLog(fsFile("new-link"));
    ASSERT_EQ(1, append(file, "past the link\n"));
    EXPECT_EQ("private\n", readFile(secret));
    EXPECT_EQ(S_IFREG | 0600u, modeOf(secret));
    EXPECT_EQ(S_IFREG | 0644u, modeOf(fsFile("linked.log")));
    EXPECT_EQ("past the link\n", readFile(fsFile("linked.log")));

    testsupport::writeFile(fsFile("own"), "");
    ASSERT_EQ(0, chmod(fsFile("own").c_str(), 0600));
    replaceLog(fsFile("own"));
    ASSERT_EQ(1, append(file, "kept private\n"));
    EXPECT_EQ(S_IFREG | 0600u, modeOf(fsFile("linked.log")));
    EXPECT_EQ("kept private\n", readFile(fsFile("linked.log")));
}

// The faults name the step and the files, so that each log can say it in
// its own words; the line is lost and a later line rotates once the way is free.
TEST(RotatingFile, AFailedRotationSaysWhereAndALaterLineGoesOn)
{
    // The oldest file is a folder with something in it: it cannot be unlinked.
    {
        RotatingFile file(0);
        start(file, "oldest", 10, 2);
        testsupport::makeDirs(fsFile("oldest_2.log/inside"));
        testsupport::writeFile(fsFile("oldest_1.log"), "one\n");
        ASSERT_EQ(1, append(file, "past the size\n"));
        EXPECT_EQ(-EISDIR, append(file, "lost\n"));
        EXPECT_EQ(LogFileFault::DropOldest, file.fault().step);
        EXPECT_EQ(EISDIR, file.fault().error);
        EXPECT_EQ(kDir + "/oldest_2.log", file.fault().file);

        ASSERT_EQ(0, system(("rm -r '" + fsFile("oldest_2.log") + "'").c_str()));
        EXPECT_EQ(1, append(file, "kept again\n"));
        EXPECT_EQ("one\n", readFile(fsFile("oldest_2.log")));
        EXPECT_EQ("past the size\n", readFile(fsFile("oldest_1.log")));
        EXPECT_EQ("kept again\n", readFile(fsFile("oldest.log")));
    }
    // Nothing kept and the current file a folder: it cannot make way.
    {
        RotatingFile file(0);
        testsupport::makeDirs(fsFile("blocked.log/inside"));
        file.place(kDir, "blocked", 10, 0);
        EXPECT_EQ(-EISDIR, file.rotate());
        EXPECT_EQ(LogFileFault::DropOldest, file.fault().step);
        EXPECT_EQ(kDir + "/blocked.log", file.fault().file);
    }
    // Names one byte short of the longest a folder takes: the next number
    // up is too long for a rename.
    {
        const std::string name(255 - 6, 'n'); // name_9.log just fits
        RotatingFile file(0);
        start(file, name, 10, 10);
        testsupport::writeFile(fsFile(name + "_9.log"), "nine\n");
        ASSERT_EQ(1, append(file, "past the size\n"));
        EXPECT_EQ(-ENAMETOOLONG, append(file, "lost\n"));
        EXPECT_EQ(LogFileFault::ShiftNumbered, file.fault().step);
        EXPECT_EQ(kDir + "/" + name + "_9.log", file.fault().file);
        EXPECT_EQ(kDir + "/" + name + "_10.log", file.fault().target);
    }
    {
        const std::string name(255 - 5, 'c'); // the current file fits, number 1 does not
        RotatingFile file(0);
        start(file, name, 10, 3);
        ASSERT_EQ(1, append(file, "past the size\n"));
        EXPECT_EQ(-ENAMETOOLONG, append(file, "lost\n"));
        EXPECT_EQ(LogFileFault::MoveCurrent, file.fault().step);
        EXPECT_EQ(kDir + "/" + name + ".log", file.fault().file);
        EXPECT_EQ(kDir + "/" + name + "_1.log", file.fault().target);
        EXPECT_EQ("past the size\n", readFile(fsFile(name + ".log")));
    }
    // The folder is gone: opening fails, and the next line tries again.
    {
        RotatingFile file(0);
        file.place(kDir + "/gone", "x", 100, 1);
        EXPECT_EQ(-ENOENT, file.open());
        EXPECT_EQ(LogFileFault::Open, file.fault().step);
        EXPECT_EQ(kDir + "/gone/x.log", file.fault().file);
        EXPECT_EQ(-ENOENT, append(file, "lost\n"));
        testsupport::makeDirs(rootPath(kDir + "/gone"));
        EXPECT_EQ(1, append(file, "found\n"));
        EXPECT_EQ("found\n", readFile(rootPath(kDir + "/gone/x.log")));
    }
}
