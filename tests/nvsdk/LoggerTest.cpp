// The support library's log: its line format, levels, rotation, and a
// logger whose writer can be replaced while other threads write.
#include "nvsdk/LogWrite.h"
#include "nvsdk/Logger.h"
#include "nvsdk/Mutex.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::scratchRoot;
using testsupport::splitLines;

namespace {

const char kDir[] = "/data/var/nvsdk";

std::string logFile(const std::string& name = "nv")
{
    return scratchRoot() + kDir + "/" + name + ".log";
}

} // namespace

TEST(NvsdkLogWrite, LinesCarryTheLevelWordAndTheTextAsWritten)
{
    nvsdk::LogWrite log;
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, log.init(kDir, "nv", 1, 1 << 20, 5, true));

    EXPECT_EQ(0, log.write(0, "dropped\n"));
    EXPECT_EQ(0, log.write(7, "odd level\n"));
    EXPECT_EQ(0, log.write(1, "%s\n", "100%d%% sure"));
    EXPECT_EQ(0, log.write(2, std::string("peer said %s%n%s\n")));
    EXPECT_EQ(0, log.write(3, std::string(5000, 'a')));
    const std::string console = testing::internal::GetCapturedStdout();

    const std::vector<std::string> lines = splitLines(readFile(logFile()));
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("[INFOR] Log File Initialize Success: Level (INFOR)", lines[0]);
    EXPECT_EQ("[UNKNOWN] odd level", lines[1]);
    EXPECT_EQ("[INFOR] 100%d%% sure", lines[2]);
    EXPECT_EQ("[WARNING] peer said %s%n%s", lines[3]);
    EXPECT_EQ("[ERROR] " + std::string(1023 - 8, 'a'), lines[4]); // cut to the buffer
    EXPECT_EQ(readFile(logFile()), console);

    // The folder was made, and its owner can enter it.
    struct stat info{};
    ASSERT_EQ(0, stat((scratchRoot() + kDir).c_str(), &info));
    EXPECT_TRUE(info.st_mode & S_IXUSR);
}

TEST(NvsdkLogWrite, PeerTextCannotStartALineOfItsOwn)
{
    nvsdk::LogWrite log;
    ASSERT_EQ(0, log.init(kDir, "peer", 0, 1 << 20, 5, false));
    EXPECT_EQ(0, log.write(1, "peer said (%s)\n", "late\n[ERROR] forged\r"));
    EXPECT_EQ(0, log.write(2, std::string("tool: \x1b[2Jx\ty\n\n")));
    nvsdk::Logger* logger = nvsdk::Logger::instance();
    ASSERT_EQ(0, nvsdk::initLog(kDir, "peerlogger", 0, 1 << 20, 5, false));
    EXPECT_EQ(0, logger->log(3, "reply %s\n", "a\nb"));

    EXPECT_EQ("[DEBUG] Log File Initialize Success: Level (DEBUG)\n"
              "[INFOR] peer said (late\\n[ERROR] forged\\r)\n"
              "[WARNING] tool: \\x1b[2Jx\ty\n\n",
              readFile(logFile("peer")));
    const std::vector<std::string> lines = splitLines(readFile(logFile("peerlogger")));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("[ERROR] reply a\\nb", lines[1]);
    EXPECT_EQ(0, logger->close());
}

TEST(NvsdkLogWrite, AFileMovedOrRemovedIsMadeAnew)
{
    nvsdk::LogWrite log;
    ASSERT_EQ(0, log.init(kDir, "kept", 1, 1 << 20, 5, false));
    ASSERT_EQ(0, log.write(1, "first\n"));
    ASSERT_EQ(0, rename(logFile("kept").c_str(), logFile("aside").c_str()));
    ASSERT_EQ(0, log.write(1, "after the move\n"));
    EXPECT_EQ("[INFOR] after the move\n", readFile(logFile("kept")));
    EXPECT_EQ(std::string::npos, readFile(logFile("aside")).find("after the move"));

    ASSERT_EQ(0, unlink(logFile("kept").c_str()));
    ASSERT_EQ(0, log.write(1, "after the removal\n"));
    EXPECT_EQ("[INFOR] after the removal\n", readFile(logFile("kept")));
    // Lines go on into the same new file.
    ASSERT_EQ(0, log.write(1, "and on\n"));
    EXPECT_EQ("[INFOR] after the removal\n[INFOR] and on\n", readFile(logFile("kept")));
}

TEST(NvsdkLogWrite, AFailedWriteSaysSoAndTheNextLineStartsAfresh)
{
    nvsdk::LogWrite log;
    ASSERT_EQ(0, log.init(kDir, "full", 1, 1 << 20, 5, false));
    // A full disk: the next line gets in only in part.
    const std::string out = testsupport::stdoutWithDiskFullPast(
        logFile("full"), 20, [&] { log.write(1, "%s\n", std::string(200, 'c').c_str()); });
    EXPECT_NE(std::string::npos, out.find("Log: fail to write log(/data/var/nvsdk/full.log)")) << out;

    EXPECT_EQ(0, log.write(1, "after the failure\n"));
    const std::vector<std::string> lines = splitLines(readFile(logFile("full")));
    ASSERT_EQ(3u, lines.size()) << readFile(logFile("full"));
    EXPECT_EQ("[INFOR] " + std::string(12, 'c'), lines[1]); // the fragment, on a line of its own
    EXPECT_EQ("[INFOR] after the failure", lines[2]);
}

TEST(NvsdkLogWrite, RotationKeepsTheGivenNumberOfFiles)
{
    {
        nvsdk::LogWrite log;
        ASSERT_EQ(0, log.init(kDir, "rot", 0, 200, 5, false));
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(0, log.write(1, "line %03d of the rotation test\n", i));
    }
    EXPECT_TRUE(fileExists(logFile("rot")));
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(fileExists(scratchRoot() + kDir + "/rot_" + std::to_string(i) + ".log")) << i;
    EXPECT_FALSE(fileExists(scratchRoot() + kDir + "/rot_5.log"));
    EXPECT_NE(std::string::npos, readFile(logFile("rot")).find("Leave LogWrite"));

    // Opening again moves the current file aside.
    const std::string last = readFile(logFile("rot"));
    nvsdk::LogWrite again;
    ASSERT_EQ(0, again.init(kDir, "rot", 1, 200, 5, false));
    EXPECT_EQ(last, readFile(scratchRoot() + kDir + "/rot_1.log"));

    // One file in all: no numbered file at all.
    nvsdk::LogWrite single;
    ASSERT_EQ(0, single.init(kDir, "one", 1, 100, 1, false));
    for (int i = 0; i < 20; ++i)
        single.write(1, "line %d of a single file\n", i);
    EXPECT_FALSE(fileExists(scratchRoot() + kDir + "/one_1.log"));
}

TEST(NvsdkLogger, BeforeItsWriterLinesGoToTheConsoleAndMessagesAreNeverFormats)
{
    nvsdk::Logger* logger = nvsdk::Logger::instance();
    EXPECT_EQ(logger, nvsdk::Logger::instance());
    EXPECT_EQ(-1, logger->close());
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, logger->log(0, "debug\n"));
    EXPECT_EQ(-1, logger->log(1, "%d%%\n", 50));
    EXPECT_EQ("50%\n", testing::internal::GetCapturedStdout());

    ASSERT_EQ(0, nvsdk::initLog(kDir, "nvsdk", 0, 1 << 20, 5, false));
    EXPECT_EQ(0, logger->log(1, "%s\n", "a%sb%n"));
    EXPECT_EQ(0, logger->log(2, std::string("%s%s%s%n\n")));
    const std::vector<std::string> lines = splitLines(readFile(logFile("nvsdk")));
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("[INFOR] a%sb%n", lines[1]);
    EXPECT_EQ("[WARNING] %s%s%s%n", lines[2]);
    EXPECT_EQ(0, logger->close());
}

TEST(NvsdkLogger, ReplacingTheWriterWhileOthersWrite)
{
    nvsdk::Logger* logger = nvsdk::Logger::instance();
    ASSERT_EQ(0, nvsdk::initLog(kDir, "busy", 0, 4096, 3, false));
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; !stop; ++i)
                logger->log(1, "thread %d line %d\n", t, i);
        });
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(0, nvsdk::initLog(kDir, "busy", 0, 4096, 3, false));
    stop = true;
    for (std::thread& writer : writers)
        writer.join();
    // Every line is whole: no two threads' lines ran into each other.
    // A replaced writer says goodbye in the same file.
    const char* const kWhole[] = {"[INFOR] thread ", "[DEBUG] Log File", "[INFOR] Leave LogWrite"};
    for (const std::string& line : splitLines(readFile(logFile("busy"))))
        EXPECT_TRUE(std::any_of(std::begin(kWhole), std::end(kWhole),
                                [&](const char* start) { return line.rfind(start, 0) == 0; }))
            << line;
}

TEST(NvsdkMutex, LockerHoldsTheMutexForItsLifetime)
{
    nvsdk::Mutex mutex;
    {
        nvsdk::MutexLocker locker(&mutex);
        EXPECT_EQ(&mutex, locker.mutex());
        std::thread other([&] { EXPECT_FALSE(mutex.tryLock()); });
        other.join();
    }
    EXPECT_TRUE(mutex.tryLock());
    EXPECT_EQ(0, mutex.unlock());
    EXPECT_DEATH(nvsdk::MutexLocker(nullptr), "m_mutex");
}
