// The namespace helper the service tests stand on: the body really runs in
// namespaces of its own, its failures reach the test, what it leaves behind
// dies with it, and where namespaces are refused the test is skipped.
#include "support/Emulator.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::scratchRoot;

TEST(TestNamespaces, TheBodyRunsAsProcessOneWithOnlyLoopbackAndPrivateMounts)
{
    const std::string mountPoint = scratchRoot() + "/private";
    testsupport::makeDirs(mountPoint);
    RUN_IN_TEST_NAMESPACES([&] {
        EXPECT_TRUE(testsupport::insideTestNamespaces());
        EXPECT_EQ(1, getpid());

        struct if_nameindex* names = if_nameindex();
        ASSERT_NE(nullptr, names);
        std::vector<std::string> interfaces;
        for (struct if_nameindex* n = names; n->if_index != 0; ++n)
            interfaces.push_back(n->if_name);
        if_freenameindex(names);
        EXPECT_EQ(std::vector<std::string>{"lo"}, interfaces);

        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        ifreq request{};
        strcpy(request.ifr_name, "lo");
        ASSERT_EQ(0, ioctl(fd, SIOCGIFFLAGS, &request));
        close(fd);
        EXPECT_TRUE(request.ifr_flags & IFF_UP);

        ASSERT_EQ(0, mount("none", mountPoint.c_str(), "tmpfs", 0, nullptr));
        testsupport::writeFile(mountPoint + "/inside", "x");
        EXPECT_NE(std::string::npos, readFile("/proc/mounts").find(mountPoint));
        testsupport::writeFile(scratchRoot() + "/ran", "yes");
    });
    EXPECT_FALSE(testsupport::insideTestNamespaces());
    EXPECT_EQ("yes", readFile(scratchRoot() + "/ran"));
    EXPECT_EQ(std::string::npos, readFile("/proc/mounts").find(mountPoint));
    EXPECT_FALSE(fileExists(mountPoint + "/inside"));
}

TEST(TestNamespaces, RunFoldersAreTheBodysOwn)
{
    struct stat host{};
    ASSERT_EQ(0, stat("/run", &host));
    RUN_IN_TEST_NAMESPACES([&] {
        for (const char* dir : {"/run", "/var/run"}) {
            struct stat inside{};
            ASSERT_EQ(0, stat(dir, &inside)) << dir;
            EXPECT_NE(host.st_dev, inside.st_dev) << dir << " is the host's";
            EXPECT_EQ(0, testsupport::entriesIn(dir)) << dir;
        }
    });
}

TEST(TestNamespaces, SetUpCommandsRunOnlyInside)
{
    const std::string marker = scratchRoot() + "/ran";
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(-1, testsupport::runInsideTestNamespaces("touch " + marker)),
                            "not inside the test namespaces");
    EXPECT_FALSE(fileExists(marker));
    RUN_IN_TEST_NAMESPACES([] {
        ASSERT_EQ(0, testsupport::runInsideTestNamespaces("ip link add veth0 type veth peer name veth1"));
        std::string links;
        EXPECT_EQ(0, testsupport::runInsideTestNamespaces("ip -o link show", &links));
        EXPECT_NE(std::string::npos, links.find("veth0@veth1"));
        EXPECT_EQ(3, testsupport::runInsideTestNamespaces("exit 3"));
    });
    EXPECT_EQ(0u, if_nametoindex("veth0")) << "the pair stays in the namespace";
}

TEST(TestNamespaces, ProcessesLeftBehindDieWithTheBody)
{
    // The leftover holds the write end of a pipe: the read end sees the
    // hang-up only once no process of the namespace is left.
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    RUN_IN_TEST_NAMESPACES([&] {
        const pid_t daemon = fork();
        ASSERT_LE(0, daemon);
        if (daemon == 0) {
            setsid();
            if (fork() == 0)
                for (;;)
                    pause();
            _exit(0);
        }
        waitpid(daemon, nullptr, 0);
    });
    close(fds[1]);
    pollfd hangUp{fds[0], POLLIN, 0};
    EXPECT_EQ(1, poll(&hangUp, 1, 10000));
    char byte;
    EXPECT_EQ(0, read(fds[0], &byte, 1));
    close(fds[0]);
}

TEST(TestNamespaces, FailuresOfTheBodyFailTheTest)
{
    EXPECT_NONFATAL_FAILURE(testsupport::runInTestNamespaces([] { EXPECT_EQ(1, 2) << "inside the namespaces"; }),
                            "inside the namespaces");
    // An exit of its own ends the body early.
    EXPECT_NONFATAL_FAILURE(testsupport::runInTestNamespaces([] { _exit(3); }), "exited by itself with 3");
}

TEST(TestNamespaces, ACrashOfTheBodyFailsTheTest)
{
    TALVIKS_SKIP_UNDER_EMULATOR("the emulator ends a crashed program by sending the signal to itself, which the "
                                "kernel ignores for the first process of a PID namespace: it would hang");
    // A crash (or a sanitizer's report of it) ends the body early.
    EXPECT_NONFATAL_FAILURE(testsupport::runInTestNamespaces([] { *static_cast<volatile int*>(nullptr) = 0; }),
                            "the body in the test namespaces");
}

TEST(TestNamespaces, SkipsWithTheReasonWhereUnshareIsRefused)
{
    // Without the privilege to make namespaces, unshare is refused.
    const pid_t pid = fork();
    ASSERT_LE(0, pid);
    if (pid == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(10);
        bool ran = false;
        bool skip = false;
        std::string reason = testsupport::runInTestNamespaces([&] { ran = true; }, &skip);
        if (ran || !skip || reason.find("namespaces unavailable: unshare") != 0)
            _exit(11);
        [&] { RUN_IN_TEST_NAMESPACES([&] { ran = true; }); }();
        _exit(!ran && testing::Test::IsSkipped() && !testing::Test::HasFailure() ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(0, WEXITSTATUS(status));
}
