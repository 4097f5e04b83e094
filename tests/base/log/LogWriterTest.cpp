#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/threads/PThread.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QString>

#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <map>
#include <regex>
#include <thread>
#include <vector>

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::splitLines;

namespace {

// Board directory of the log in these tests, and its place under the scratch root.
const std::string kDir = "/data/var";

std::string fsLog(const std::string& file)
{
    return rootPath(kDir + "/" + file);
}

LogWriter* openLog(int level, int maxSize = 0x100000, int maxFiles = 10, bool console = false)
{
    testsupport::makeDirs(rootPath("/data"));
    LogWriter* log = LogWriter::instance();
    log->init(kDir, "TalvikS", level, maxSize, maxFiles, console);
    return log;
}

std::vector<std::string> logLines(const std::string& file = "TalvikS.log")
{
    return splitLines(readFile(fsLog(file)));
}

const std::regex kLine(R"(^\[(\d+)-(\d+)-(\d+) (\d{2}):(\d{2}):(\d{2})\.(\d{6})\]\[([A-Z]*)\] \[(\d{4})\](.*)$)");

} // namespace

TEST(LogWriter, LinesCarryTimeLevelWordThreadAndMessage)
{
    LogWriter* log = openLog(0);
    const time_t before = time(nullptr);
    for (int level : {0, 1, 2, 3, 4, 7})
        EXPECT_EQ(1, log->write(level, "level %d says %s", level, "hi"));
    EXPECT_EQ(0, log->write(-1, "below every threshold"));
    const time_t after = time(nullptr);

    const auto lines = logLines();
    ASSERT_EQ(7u, lines.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ("Log File Initialize Success: Level (DBUG), No-STD-Output", m[10].str());

    const char* words[] = {"DBUG", "INFO", "WARN", "ERRO", "TEST", ""};
    const int levels[] = {0, 1, 2, 3, 4, 7};
    char thread[8];
    snprintf(thread, sizeof thread, "%04d", static_cast<int>(static_cast<unsigned long>(pthread_self()) % 10000));
    for (int i = 0; i < 6; ++i) {
        const std::string& line = lines[i + 1];
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line;
        EXPECT_EQ(words[i], m[8].str());
        EXPECT_EQ(thread, m[9].str());
        EXPECT_EQ("level " + std::to_string(levels[i]) + " says hi", m[10].str());
        // Local date without leading zeros, from one reading of the clock.
        tm local{};
        const time_t stamp = before;
        localtime_r(&stamp, &local);
        EXPECT_EQ(std::to_string(local.tm_year + 1900), m[1].str());
        EXPECT_EQ(std::to_string(local.tm_mon + 1), m[2].str());
        EXPECT_EQ(std::to_string(local.tm_mday), m[3].str());
        const int seconds = std::stoi(m[4]) * 3600 + std::stoi(m[5]) * 60 + std::stoi(m[6]);
        const int lo = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
        EXPECT_GE(seconds, lo);
        EXPECT_LE(seconds, lo + static_cast<int>(after - before) + 1);
    }
    EXPECT_NE(std::string::npos, lines[6].find("[] ["));
}

TEST(LogWriter, LevelIsAThreshold)
{
    LogWriter* log = openLog(1);
    EXPECT_EQ(0, log->write(0, "dropped"));
    EXPECT_EQ(0, log->write(0, std::string("dropped too")));
    EXPECT_EQ(1, log->write(1, "kept"));

    log = openLog(4);
    EXPECT_EQ(0, log->write(3, "below test"));
    EXPECT_EQ(1, log->write(4, "test passes"));
    const auto lines = logLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("Level (TEST), No-STD-Output"));
    EXPECT_NE(std::string::npos, lines[1].find("[TEST]"));
    // The previous run's file moved to number 1 when init ran again.
    EXPECT_NE(std::string::npos, readFile(fsLog("TalvikS_1.log")).find("kept"));
}

TEST(LogWriter, FormattedLinesAreCutAt1023BytesStringLinesAreNot)
{
    LogWriter* log = openLog(0);
    const std::string longText(3000, 'x');
    EXPECT_EQ(1, log->write(1, "%s", longText.c_str()));
    EXPECT_EQ(1, log->write(1, longText));
    const std::string file = readFile(fsLog("TalvikS.log"));
    const auto lines = splitLines(file);
    ASSERT_EQ(3u, lines.size());
    const size_t prefix = lines[1].find('x');
    EXPECT_EQ(1022u, lines[1].size()); // plus its newline: 1023
    EXPECT_EQ(std::string(1022 - prefix, 'x'), lines[1].substr(prefix));
    EXPECT_EQ(longText, lines[2].substr(prefix));

    // A message that just fits is not cut.
    const std::string fits(1022 - prefix, 'y');
    EXPECT_EQ(1, log->write(1, "%s", fits.c_str()));
    EXPECT_EQ(1, log->write(1, "%sz", fits.c_str()));
    const auto after = logLines();
    EXPECT_EQ(fits, after[3].substr(prefix));
    EXPECT_EQ(fits, after[4].substr(prefix));
}

TEST(LogWriter, RotationKeepsTheNewestFilesInOrder)
{
    LogWriter* log = openLog(1, 200, 3);
    // Each line is about 60 bytes: a file is rotated once it is past 200 bytes,
    // so it holds the line that crossed the limit too.
    for (int i = 0; i < 40; ++i)
        log->write(1, "line %02d of the rotation test", i);

    EXPECT_TRUE(fileExists(fsLog("TalvikS_1.log")));
    EXPECT_TRUE(fileExists(fsLog("TalvikS_2.log")));
    EXPECT_TRUE(fileExists(fsLog("TalvikS_3.log")));
    EXPECT_FALSE(fileExists(fsLog("TalvikS_4.log")));

    // Newest last in the current file, then 1, 2, 3 going back in time, with
    // no gap between them.
    std::vector<int> numbers;
    for (const char* name : {"TalvikS_3.log", "TalvikS_2.log", "TalvikS_1.log", "TalvikS.log"}) {
        const auto lines = logLines(name);
        struct stat st{};
        stat(fsLog(name).c_str(), &st);
        if (std::string(name) != "TalvikS.log") {
            EXPECT_GT(st.st_size, 200) << name;
            EXPECT_LE(st.st_size - static_cast<long>(lines.back().size() + 1), 200) << name;
        }
        for (const auto& line : lines) {
            const size_t at = line.find("line ");
            if (at != std::string::npos)
                numbers.push_back(std::stoi(line.substr(at + 5, 2)));
        }
    }
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(39, numbers.back());
    for (size_t i = 1; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i - 1] + 1, numbers[i]);
}

TEST(LogWriter, ZeroFilesBehavesAsOneAndInitShiftsTheOldFile)
{
    testsupport::makeDirs(rootPath(kDir));
    testsupport::writeFile(fsLog("TalvikS.log"), "previous run\n");
    LogWriter* log = openLog(1, 100, 0);
    EXPECT_EQ("previous run\n", readFile(fsLog("TalvikS_1.log")));
    EXPECT_EQ(1u, logLines().size());
    for (int i = 0; i < 10; ++i)
        log->write(1, "filling the file with line %d", i);
    EXPECT_TRUE(fileExists(fsLog("TalvikS_1.log")));
    EXPECT_FALSE(fileExists(fsLog("TalvikS_2.log")));
    EXPECT_EQ(std::string::npos, readFile(fsLog("TalvikS_1.log")).find("previous run"));
}

TEST(LogWriter, ConsoleEchoesLinesVerbatim)
{
    LogWriter* log = openLog(1, 0x100000, 10, true);
    testing::internal::CaptureStdout();
    log->write(1, std::string("100% done, %s %d %n"));
    log->write(2, "%s", "50%% %d");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("]100% done, %s %d %n\n"));
    EXPECT_NE(std::string::npos, out.find("]50%% %d\n"));
    EXPECT_NE(std::string::npos, logLines()[0].find("Level (INFO), STD-Output"));
}

// Text from peers (a server's message, a tool's output) goes into lines of
// every form; whatever it holds, one write stays one line of ours.
TEST(LogWriter, PeerTextCannotStartALineOfItsOwn)
{
    LogWriter* log = openLog(0);
    const std::string forged = "[2024-1-1 00:00:00.000000][ERRO] [0000]forged";
    EXPECT_EQ(1, log->write(LogInfo, "server said (%s), code %d", ("busy\n" + forged).c_str(), 503));
    EXPECT_EQ(1, log->write(LogInfo, std::string("tool: a\r\nb\x1b[2J\tc\x7f")));
    EXPECT_EQ(1, log->write(LogInfo, QString::fromUtf8("daemon: ü\n") + QString::fromStdString(forged)));
    EXPECT_EQ(1, log->write(LogInfo, "ends its line\n"));

    const auto lines = logLines();
    ASSERT_EQ(6u, lines.size());
    std::smatch m;
    for (size_t i = 1; i < 5; ++i)
        ASSERT_TRUE(std::regex_match(lines[i], m, kLine)) << lines[i];
    EXPECT_EQ("]server said (busy\\n" + forged + "), code 503", lines[1].substr(lines[1].find("]server")));
    EXPECT_NE(std::string::npos, lines[2].find("]tool: a\\r\\nb\\x1b[2J\tc\\x7f"));
    EXPECT_NE(std::string::npos, lines[3].find("]daemon: \xc3\xbc\\n" + forged));
    // A line feed that ends the message only ends its line.
    EXPECT_NE(std::string::npos, lines[4].find("]ends its line"));
    EXPECT_EQ("", lines[5]);

    // Escapes take more room: a formatted line is still cut at 1023 bytes,
    // and never in the middle of an escape.
    EXPECT_EQ(1, log->write(LogInfo, "%s", std::string(600, '\x01').c_str()));
    const std::string cut = logLines().back();
    EXPECT_LE(cut.size(), 1022u);
    EXPECT_EQ(0u, (cut.size() - cut.find('\\')) % 4) << cut;
    EXPECT_EQ("\\x01", cut.substr(cut.size() - 4));
}

TEST(LogWriter, EmptyDirectoryPutsTheFileAtTheRoot)
{
    LogWriter* log = LogWriter::instance();
    log->init("", "rootlog", 1, 0x100000, 2, false);
    log->write(1, "at the root");
    EXPECT_NE(std::string::npos, readFile(rootPath("/rootlog.log")).find("at the root"));
}

TEST(LogWriter, SurvivesWritesBeforeInitAndDeletedFiles)
{
    LogWriter* log = LogWriter::instance();
    EXPECT_EQ(0, log->write(1, "before init"));
    EXPECT_EQ(0, log->write(1, std::string("before init")));

    log = openLog(1);
    // A removed file is made anew at the next line: none written after the removal is lost.
    ASSERT_EQ(0, unlink(fsLog("TalvikS.log").c_str()));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(1, log->write(1, "after the delete, %d", i));
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(5u, lines.size());
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(std::string::npos, lines[i].find("after the delete, " + std::to_string(i))) << lines[i];

    // A moved file the writer learns of within moments (it looks at its path
    // now and then); then the file is there again, holding the lines written since.
    ASSERT_EQ(0, rename(fsLog("TalvikS.log").c_str(), fsLog("elsewhere.log").c_str()));
    for (int i = 0; i < 200 && !fileExists(fsLog("TalvikS.log")); ++i) {
        EXPECT_EQ(1, log->write(1, "after the move"));
        PThread::msleep(5);
    }
    EXPECT_EQ(1, log->write(1, "and the next line, moved"));
    lines = logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos, lines.back().find("next line, moved"));
    EXPECT_EQ(std::string::npos, readFile(fsLog("elsewhere.log")).find("next line, moved"));
}

TEST(LogWriter, InitFailuresThrowWithTheirTexts)
{
    LogWriter* log = LogWriter::instance();
    try {
        log->init("/no/such/parent", "x", 1, 100, 1, false);
        FAIL() << "init should throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("LogWriter: create folder(/no/such/parent) failed\n", e.what());
    }
    testsupport::makeDirs(rootPath(kDir));
    EXPECT_THROW(
        {
            try {
                log->init(kDir, "missing/blocked", 1, 100, 1, false); // no such subfolder
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ("Open Log File Error", e.what());
                throw;
            }
        },
        std::runtime_error);
}

TEST(LogWriter, FailedRotationReportsTheErrorAndKeepsGoingLater)
{
    LogWriter* log = openLog(1, 100, 3);
    // The oldest file is a folder with something in it: it cannot be unlinked.
    testsupport::writeFile(fsLog("TalvikS_1.log"), "one\n");
    testsupport::makeDirs(fsLog("TalvikS_3.log/inside"));
    log->write(1, "%s", std::string(150, 'a').c_str());
    testing::internal::CaptureStdout();
    EXPECT_EQ(-EISDIR, log->write(1, "lost"));
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("LogWriter, unlink file (/data/var/TalvikS_3.log) error")) << out;
    EXPECT_NE(std::string::npos, out.find("LogWrite, Shift Log File Fail")) << out;

    ASSERT_EQ(0, system(("rm -r '" + fsLog("TalvikS_3.log") + "'").c_str()));
    EXPECT_EQ(1, log->write(1, "kept again"));
    EXPECT_NE(std::string::npos, readFile(fsLog("TalvikS.log")).find("kept again"));
    EXPECT_EQ("one\n", readFile(fsLog("TalvikS_2.log")));
    EXPECT_EQ(std::string::npos, readFile(fsLog("TalvikS_1.log")).find("lost"));
}

TEST(LogWriter, EightThreadsThroughRotationsLoseAndMixNothing)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 3000;
    LogWriter* log = openLog(1, 64 * 1024, 1000);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([log, t] {
            for (int i = 0; i < kLines; ++i)
                log->write(1, "thread %d line %d %s", t, i, "payload-payload-payload");
        });
    for (auto& thread : threads)
        thread.join();

    std::vector<std::string> files;
    for (int i = 999; i >= 1; --i)
        if (fileExists(fsLog("TalvikS_" + std::to_string(i) + ".log")))
            files.push_back("TalvikS_" + std::to_string(i) + ".log");
    files.push_back("TalvikS.log");
    EXPECT_GT(files.size(), 10u);

    std::vector<int> next(kThreads, 0);
    const std::regex body(R"(thread (\d) line (\d+) payload-payload-payload)");
    for (const auto& file : files)
        for (const auto& line : logLines(file)) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, kLine)) << line;
            const std::string text = m[10];
            if (text.rfind("Log File", 0) == 0)
                continue;
            ASSERT_TRUE(std::regex_match(text, m, body)) << line;
            const int t = std::stoi(m[1]);
            EXPECT_EQ(next[t], std::stoi(m[2]));
            next[t] = std::stoi(m[2]) + 1;
        }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(kLines, next[t]) << "thread " << t;
}

TEST(LogWriter, CancellingAWriterNeverLeavesTheLockHeld)
{
    LogWriter* log = openLog(1, 4096, 5);
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> running{false};
        pthread_t writer;
        auto body = [](void* arg) -> void* {
            auto* flag = static_cast<std::atomic<bool>*>(arg);
            for (;;) {
                LogWriter::instance()->write(1, "writing until cancelled");
                flag->store(true);
                pthread_testcancel();
            }
            return nullptr;
        };
        ASSERT_EQ(0, pthread_create(&writer, nullptr, body, &running));
        while (!running)
            std::this_thread::yield();
        pthread_cancel(writer);
        pthread_join(writer, nullptr);
        EXPECT_EQ(1, log->write(1, "main thread still writes"));
    }
}

TEST(LogWriter, LinesBeforeTheFirstInitFollowItsFirstLine)
{
    LogWriter* log = LogWriter::instance();
    EXPECT_EQ(0, log->write(2, "%s", "early warning"));
    EXPECT_EQ(0, log->write(1, "early information"));
    EXPECT_EQ(0, log->write(3, QString::fromUtf8("early error, käytössä")));
    for (int i = 0; i < 300; ++i)
        log->write(2, "flood %d", i);

    openLog(2);
    const auto lines = logLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_NE(std::string::npos, lines[0].find("Log File Initialize Success"));
    EXPECT_NE(std::string::npos, lines[1].find("[WARN] [")) << lines[1];
    EXPECT_NE(std::string::npos, lines[1].find("early warning"));
    EXPECT_NE(std::string::npos, lines[2].find("early error, käytössä"));
    EXPECT_NE(std::string::npos, lines[3].find("flood 0"));
    // Below the level given at init, or beyond what is kept: only a count.
    const std::string all = readFile(fsLog("TalvikS.log"));
    EXPECT_EQ(std::string::npos, all.find("early information"));
    EXPECT_EQ(std::string::npos, all.find("flood 253"));
    EXPECT_NE(std::string::npos, lines.back().find("47 lines written before the log was opened are lost"));

    // A second init has nothing left to add.
    openLog(1);
    EXPECT_EQ(1u, logLines().size());
}

TEST(LogWriter, QStringLinesAreUtf8AndFiltered)
{
    LogWriter* log = openLog(1);
    EXPECT_EQ(1, log->write(1, QString::fromUtf8("Grüße aus %1 ✓").arg(QStringLiteral("Tallinn"))));
    EXPECT_EQ(0, log->write(0, QStringLiteral("filtered")));
    EXPECT_EQ(1, log->write(2, QString()));
    const auto lines = logLines();
    ASSERT_EQ(3u, lines.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ("Grüße aus Tallinn ✓", m[10].str());
    ASSERT_TRUE(std::regex_match(lines[2], m, kLine)) << lines[2];
    EXPECT_EQ("WARN", m[8].str());
    EXPECT_EQ("", m[10].str());
}

TEST(LogWriter, AFailedWriteSaysSoAndTheNextLineStartsAfresh)
{
    LogWriter* log = openLog(1);
    EXPECT_EQ(1, log->write(1, "whole line"));

    // A full disk: the next line gets in only in part.
    int failed = -1;
    const std::string out = testsupport::stdoutWithDiskFullPast(
        fsLog("TalvikS.log"), 40, [&] { failed = log->write(1, "%s", std::string(200, 'c').c_str()); });
    EXPECT_EQ(0, failed);
    EXPECT_NE(std::string::npos, out.find("LogWriter, Fail to write log(")) << out;

    EXPECT_EQ(1, log->write(1, "after the failure"));
    EXPECT_EQ(1, log->write(1, "and one more"));
    const auto lines = logLines();
    ASSERT_EQ(5u, lines.size()) << readFile(fsLog("TalvikS.log"));
    EXPECT_EQ(40u, lines[2].size()); // the fragment, on a line of its own
    for (size_t i : {1, 3, 4})
        EXPECT_TRUE(std::regex_match(lines[i], kLine)) << lines[i];
    EXPECT_NE(std::string::npos, lines[3].find("after the failure"));
}

// A log emptied by hand to free room (": > TalvikS.log") goes on from its
// start, with no hole of zero bytes where the old lines were.
TEST(LogWriter, ALogEmptiedByHandGoesOnFromItsStart)
{
    LogWriter* log = openLog(1);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(1, log->write(1, "filling line %d", i));
    ASSERT_EQ(0, truncate(fsLog("TalvikS.log").c_str(), 0));
    EXPECT_EQ(1, log->write(1, "after emptying"));
    const std::string file = readFile(fsLog("TalvikS.log"));
    EXPECT_EQ(std::string::npos, file.find('\0'));
    const auto lines = splitLines(file);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("]after emptying"));
}

TEST(LogWriter, CheckLinesCarryTheSignatureAndTheLineNumber)
{
    openLog(1);
    logCheck("int BasePrinter::setNextLayerData()", 416);
    logCheck("void ProjectView::sendImageData(QImage&)", 302, LogError);
    logCheck("int Dropped::below()", 1, LogDebug);
    const auto lines = logLines();
    ASSERT_EQ(3u, lines.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ("INFO", m[8].str());
    EXPECT_EQ("int BasePrinter::setNextLayerData(): H 416", m[10].str());
    ASSERT_TRUE(std::regex_match(lines[2], m, kLine)) << lines[2];
    EXPECT_EQ("ERRO", m[8].str());
    EXPECT_EQ("void ProjectView::sendImageData(QImage&): H 302", m[10].str());
}

TEST(LogWriter, ProgramsTheProcessStartsDoNotInheritTheLog)
{
    openLog(1);
    const std::string listing = rootPath("/fds");
    // The child lists its own open files.
    ASSERT_EQ(0, system(("ls -l /proc/self/fd/ > '" + listing + "' 2>&1").c_str()));
    const std::string fds = readFile(listing);
    EXPECT_NE(std::string::npos, fds.find("/proc/")) << fds;
    EXPECT_EQ(std::string::npos, fds.find("TalvikS.log")) << fds;
}
