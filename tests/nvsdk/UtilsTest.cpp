// The support library's string, process and thread helpers.
#include "nvsdk/Utils.h"
#include "support/RecordingShell.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using nvsdk::Utils;
using testsupport::scratchRoot;
using Pieces = std::vector<std::string>;

namespace {

// A copy of sleep under a name no other process has.
std::string uniqueSleeper()
{
    const std::string name = "nvk" + std::to_string(getpid());
    const std::string path = scratchRoot() + "/" + name;
    std::ifstream from("/bin/sleep", std::ios::binary);
    std::ofstream to(path, std::ios::binary);
    to << from.rdbuf();
    to.close();
    chmod(path.c_str(), 0755);
    return name;
}

pid_t startSleeper(const std::string& name)
{
    const std::string path = scratchRoot() + "/" + name;
    const pid_t pid = fork();
    if (pid == 0) {
        execl(path.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

std::string processName(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key, name;
    status >> key >> name;
    return name;
}

void* waitForFlag(void* flag)
{
    while (!static_cast<std::atomic<bool>*>(flag)->load())
        usleep(1000);
    return nullptr;
}

} // namespace

TEST(NvsdkStrings, TrimCaseSplitAndJoin)
{
    EXPECT_EQ("a b \t", Utils::trimLeft(" \n a b \t"));
    EXPECT_EQ(" \n a b", Utils::trimRight(" \n a b \t"));
    EXPECT_EQ("a b", Utils::trim(" \n a b \t"));
    EXPECT_EQ("", Utils::trim(" \t\n"));
    // Bytes above 127 pass through the ctype calls unharmed.
    EXPECT_EQ("ABC\xE9\xFF", Utils::toUpper("aBc\xE9\xFF"));
    EXPECT_EQ("abc\xC9", Utils::toLower("AbC\xC9"));
    EXPECT_EQ((Pieces{"one", "two", "three"}), Utils::split("  one two\t\tthree \n"));
    EXPECT_TRUE(Utils::split(" \t ").empty());
    EXPECT_TRUE(Utils::split("").empty());

    EXPECT_EQ("./name", Utils::joinPath("", "name"));
    EXPECT_EQ("/dir/name", Utils::joinPath("/dir/", "name"));
    EXPECT_EQ("/dir", Utils::joinPath("/dir", ""));
    EXPECT_EQ("/dir/name", Utils::joinPath("/dir", "name"));

    EXPECT_TRUE(Utils::startsWith("Model.svgx", ""));
    EXPECT_FALSE(Utils::startsWith("Model.svgx", "model", true));
    EXPECT_TRUE(Utils::startsWith("Model.svgx", "model", false));
    EXPECT_FALSE(Utils::startsWith("Mo", "Model"));
    EXPECT_TRUE(Utils::endsWith("Model.svgx", "Model.svgx"));
    EXPECT_TRUE(Utils::endsWith("Model.SVGX", ".svgx", false));
    EXPECT_FALSE(Utils::endsWith("Model.SVGX", ".svgx", true));
    EXPECT_FALSE(Utils::endsWith("gx", ".svgx"));
    EXPECT_TRUE(Utils::endsWith("x", ""));
}

TEST(NvsdkRegexSplit, PiecesBetweenMatchesAndEmptyMatchesEnd)
{
    EXPECT_EQ((Pieces{"a", "b", "c"}), Utils::regexSplit(" a , b,c ", ",", false));
    EXPECT_EQ((Pieces{"a", "", "b", ""}), Utils::regexSplit("a,,b,", ",", true));
    EXPECT_EQ((Pieces{"a", "b"}), Utils::regexSplit("a,,b,", ",", false));
    EXPECT_EQ((Pieces{"k", "v"}), Utils::regexSplit("k = v", "\\s*=\\s*", false));
    EXPECT_EQ((Pieces{"nothing to split"}), Utils::regexSplit("nothing to split", ";", false));

    // Patterns that can match no characters end, splitting only where they
    // match some.
    EXPECT_EQ((Pieces{"a b"}), Utils::regexSplit("a b", "", false));
    EXPECT_EQ((Pieces{"a b"}), Utils::regexSplit("a b", "^", false));
    EXPECT_EQ((Pieces{"a b"}), Utils::regexSplit("a b", "\\b", false));
    EXPECT_EQ((Pieces{"a", "b"}), Utils::regexSplit("axxb", "x*", false));
    EXPECT_EQ((Pieces{"a", "b", "c"}), Utils::regexSplit("a b  c", "\\s*", false));
    // "^" matches only at the start of the text, not at each new rest.
    EXPECT_EQ((Pieces{"b", "a"}), Utils::regexSplit("ab a", "^a|\\s", false));

    EXPECT_TRUE(Utils::regexSplit("a(b", "(", false).empty());
    EXPECT_TRUE(Utils::regexSplit("", ",", false).empty());
    EXPECT_EQ((Pieces{""}), Utils::regexSplit("", ",", true));
}

TEST(NvsdkProcesses, KillsAChildByItsNameAndNeverTheProcessItself)
{
    const std::string name = uniqueSleeper();
    const pid_t child = startSleeper(name);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(testsupport::eventually([&] { return processName(child) == name; }, 10000));

    // The same name outside this process's descendants stays alive.
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t middle = fork();
    if (middle == 0) {
        const pid_t orphan = startSleeper(name);
        if (write(fds[1], &orphan, sizeof orphan) != sizeof orphan)
            _exit(1);
        _exit(0);
    }
    pid_t orphan = 0;
    ASSERT_EQ(static_cast<ssize_t>(sizeof orphan), read(fds[0], &orphan, sizeof orphan));
    close(fds[0]);
    close(fds[1]);
    waitpid(middle, nullptr, 0);
    ASSERT_TRUE(testsupport::eventually([&] { return processName(orphan) == name; }, 10000));

    EXPECT_EQ(0, Utils::killProcessByName(name));
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(name, processName(orphan));
    kill(orphan, SIGKILL);

    // The name of this very process: "self" in /proc is no process id, and
    // the process itself is not its own descendant. Checked in a child of
    // its own process group, in case it ever killed everything in it.
    const pid_t checker = fork();
    if (checker == 0) {
        setpgid(0, 0);
        Utils::killProcessByName(processName(getpid()));
        _exit(0);
    }
    ASSERT_EQ(checker, waitpid(checker, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST(NvsdkProcesses, SystemRunsThroughTheShellAndReportsTheExitCode)
{
    SKIP_WITHOUT_SANDBOX();
    EXPECT_EQ(0, Utils::system(""));
    EXPECT_EQ(0, Utils::system("echo dropped"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, Utils::system("exit 3"));
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, printed.find("system: cmd (exit 3) return status (768), return value(3)")) << printed;

    testsupport::RecordingShell shell;
    shell.script("fail", testsupport::RecordingShell::exitStatus(2));
    EXPECT_EQ(0, Utils::system("anything at all"));
    EXPECT_EQ(-1, Utils::system("fail now"));
    EXPECT_EQ((Pieces{"anything at all", "fail now"}), shell.commands());
}

TEST(NvsdkThreads, AliveWhileRunningAndNotAfterItEnded)
{
    std::atomic<bool> finish{false};
    pthread_t thread = 0;
    ASSERT_EQ(0, Utils::createThread(&thread, waitForFlag, &finish, 256 * 1024));
    EXPECT_TRUE(Utils::isThreadAlive(thread));
    EXPECT_FALSE(Utils::isThreadAlive(0));
    finish = true;
    ASSERT_EQ(0, pthread_join(thread, nullptr));
    EXPECT_FALSE(Utils::isThreadAlive(thread));

    // A stack size the system refuses falls back to the default one.
    finish = true;
    testing::internal::CaptureStderr();
    ASSERT_EQ(0, Utils::createThread(&thread, waitForFlag, &finish, 1));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("pthread_attr_setstacksize error"));
    ASSERT_EQ(0, pthread_join(thread, nullptr));
}

TEST(NvsdkThreads, TheRoutinesResultReachesTheJoinHoweverItEnds)
{
    int value = 7;
    pthread_t returned = 0, exited = 0;
    ASSERT_EQ(0, Utils::createThread(&returned, [](void* arg) { return arg; }, &value, 256 * 1024));
    ASSERT_EQ(0, Utils::createThread(&exited, [](void* arg) -> void* { pthread_exit(arg); }, &value, 256 * 1024));
    EXPECT_FALSE(pthread_equal(returned, exited));
    void* result = nullptr;
    ASSERT_EQ(0, pthread_join(returned, &result));
    EXPECT_EQ(&value, result);
    EXPECT_FALSE(Utils::isThreadAlive(returned));
    result = nullptr;
    ASSERT_EQ(0, pthread_join(exited, &result));
    EXPECT_EQ(&value, result);
    EXPECT_FALSE(Utils::isThreadAlive(exited));

    // The next start drops what is kept of the ended threads; the address
    // sanitizer build sees any later touch of it.
    std::atomic<bool> finish{false};
    pthread_t later = 0;
    ASSERT_EQ(0, Utils::createThread(&later, waitForFlag, &finish, 256 * 1024));
    EXPECT_TRUE(Utils::isThreadAlive(later));
    finish = true;
    ASSERT_EQ(0, pthread_join(later, nullptr));
}
