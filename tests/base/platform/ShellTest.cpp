// The shell seam: quoting that survives hostile names, and results as a shell
// gives them.
#include "base/platform/Platform.h"
#include "base/platform/Shell.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>

using testsupport::fileExists;
using testsupport::makeDirs;
using testsupport::scratchRoot;
using testsupport::writeFile;

TEST(Shell, QuotedWordsReachTheProgramUnchanged)
{
    SKIP_WITHOUT_SANDBOX();
    const std::string marker = scratchRoot() + "/injected";
    const std::vector<std::string> texts = {
        "plain", "", "two words", "it's", "\"double\"", "$(touch " + marker + ")", "`touch " + marker + "`",
        "a;touch " + marker, "new\nline", "back\\slash", "*", "-n",
    };
    for (const std::string& text : texts) {
        std::string output;
        EXPECT_EQ(0, platform().shell().capture("printf '%s' " + shellQuote(text), &output));
        EXPECT_EQ(text, output);
        output.clear();
        EXPECT_EQ(0, platform().shell().exec("printf", {"%s", text}, &output));
        EXPECT_EQ(text, output);
    }
    EXPECT_FALSE(fileExists(marker));
}

TEST(Shell, ResultsAreRawWaitStatuses)
{
    SKIP_WITHOUT_SANDBOX();
    const int status = platform().shell().run("exit 3");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(3, WEXITSTATUS(status));
    const std::string missing = scratchRoot() + "/no-such-program-here";
    EXPECT_EQ(127, WEXITSTATUS(platform().shell().exec(missing, {})));
    EXPECT_EQ(127, WEXITSTATUS(platform().shell().run(missing)));
}

TEST(Shell, ChildrenStartWithNoSignalBlocked)
{
    SKIP_WITHOUT_SANDBOX();
    // Engine threads block timer signals; the programs they start must not inherit that.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGALRM);
    ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &blocked, nullptr));
    std::string output;
    EXPECT_EQ(0, platform().shell().capture("grep SigBlk /proc/self/status", &output));
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
    EXPECT_EQ("SigBlk:\t0000000000000000\n", output);
}

TEST(Shell, ChildrenGetOnlyTheirThreeStandardDescriptors)
{
    SKIP_WITHOUT_SANDBOX();
    // Opened as a careless library would: without close-on-exec.
    const std::string file = scratchRoot() + "/package.part";
    const int open = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(open, 0);
    std::string output;
    EXPECT_EQ(0, platform().shell().capture("ls /proc/$$/fd", &output));
    EXPECT_EQ(0, platform().shell().exec("sh", {"-c", "ls /proc/$$/fd"}, &output));
    const RunResult timed = platform().shell().runTimed(TimedRun{{"sh", "-c", "ls /proc/$$/fd"}});
    close(open);
    EXPECT_EQ("0\n1\n2\n0\n1\n2\n", output);
    EXPECT_EQ("0\n1\n2\n", timed.output);
}
