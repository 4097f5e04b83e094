// Every test process gets a fresh scratch root in TALVIKS_ROOT before any
// singleton exists, so no test reads or writes the board paths of the host.
#include "base/ProcessSignals.h"

#include <gtest/gtest.h>

#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string g_root;

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return remove(path);
}

void removeRoot()
{
    if (!g_root.empty() && !getenv("TALVIKS_KEEP_ROOT"))
        nftw(g_root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool isDeathTestChild(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (strstr(argv[i], "internal_run_death_test"))
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    ignoreBrokenPipes();
    // A death-test child runs inside its parent's root and leaves it alone.
    if (!isDeathTestChild(argc, argv)) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/talviks-test.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            perror("mkdtemp");
            return 2;
        }
        g_root = pattern;
        setenv("TALVIKS_ROOT", g_root.c_str(), 1);
        // Registered before any singleton: runs after their exit handlers.
        atexit(removeRoot);
    }
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
