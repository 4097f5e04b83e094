// Every test process gets a fresh scratch root in TALVIKS_ROOT before any
// singleton exists, so no test reads or writes the board paths of the host.
// The roots that processes killed before their end left behind go first.
#include "base/platform/ProcessSignals.h"
#include "support/Emulator.h"
#include "support/ScratchFolders.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string g_root;
pid_t g_rootOwner = 0;

void removeRoot()
{
    // A death-test child made by fork (under the emulator) inherits this
    // handler, and the root is still its parent's.
    if (!g_root.empty() && getpid() == g_rootOwner && !getenv("TALVIKS_KEEP_ROOT"))
        testsupport::removeScratchFolder(g_root);
}

// SVG layers are drawn by this build's layer renderer (behind the emulator
// in a cross build), wherever the test program lies.
void useLayerRendererOfThisBuild()
{
#ifdef TALVIKS_TEST_LAYER_RENDERER
    std::string words;
    for (const std::string& word : testsupport::programArgv(TALVIKS_TEST_LAYER_RENDERER))
        words += (words.empty() ? "" : " ") + word;
    setenv("TALVIKS_LAYER_RENDERER", words.c_str(), 0);
#endif
}

bool isDeathTestChild(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (strstr(argv[i], "internal_run_death_test"))
            return true;
    return false;
}

// Appends "Suite.Name: reason" of each skipped test to the file named by
// TALVIKS_SKIP_LOG, so that a run of many test processes (./talviks test)
// can say what was skipped and why.
class SkipRecorder : public testing::EmptyTestEventListener
{
public:
    explicit SkipRecorder(std::string path) : m_path(std::move(path)) {}

    void OnTestEnd(const testing::TestInfo& test) override
    {
        const testing::TestResult& result = *test.result();
        if (!result.Skipped())
            return;
        std::string reason;
        for (int i = 0; i < result.total_part_count() && reason.empty(); ++i)
            if (result.GetTestPartResult(i).skipped())
                reason = result.GetTestPartResult(i).message();
        std::string line = std::string(test.test_suite_name()) + "." + test.name() + ": " +
                           (reason.empty() ? "(no reason given)" : reason);
        for (char& c : line)
            if (c == '\n' || c == '\r')
                c = ' ';
        line += '\n';
        // One write of a line with O_APPEND: lines of tests running at once do not mix.
        const int fd = open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        if (write(fd, line.data(), line.size()) < 0)
            perror(m_path.c_str());
        close(fd);
    }

private:
    const std::string m_path;
};

} // namespace

int main(int argc, char** argv)
{
    ignoreBrokenPipes();
    useLayerRendererOfThisBuild();
    // A death-test child runs inside its parent's root and leaves it alone.
    if (!isDeathTestChild(argc, argv)) {
        const char* tmp = getenv("TMPDIR");
        const std::string parent = tmp && *tmp ? tmp : "/tmp";
        for (const std::string& folder : {parent, std::string("/dev/shm")})
            testsupport::removeStaleScratchFolders(folder);
        g_root = testsupport::makeScratchFolder(parent);
        if (g_root.empty()) {
            perror("mkdtemp");
            return 2;
        }
        g_rootOwner = getpid();
        setenv("TALVIKS_ROOT", g_root.c_str(), 1);
        // Registered before any singleton: runs after their exit handlers.
        atexit(removeRoot);
    }
    testing::InitGoogleTest(&argc, argv);
    const char* skipLog = getenv("TALVIKS_SKIP_LOG");
    if (skipLog && *skipLog && !isDeathTestChild(argc, argv))
        testing::UnitTest::GetInstance()->listeners().Append(new SkipRecorder(skipLog));
    // The threadsafe style starts this program again, which an emulated
    // program cannot do by itself; under the emulator the child is a fork.
    GTEST_FLAG_SET(death_test_style, testsupport::underEmulator() ? "fast" : "threadsafe");
    return RUN_ALL_TESTS();
}
