// A reader that goes away never ends the process: writes fail with EPIPE.
#include "base/platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

namespace {

void expectBrokenPipe(int fd)
{
    errno = 0;
    EXPECT_EQ(-1, write(fd, "x", 1));
    EXPECT_EQ(EPIPE, errno);
    close(fd);
}

} // namespace

TEST(BrokenPipe, WritesToAGonePeerFailWithEpipe)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    close(fds[0]);
    expectBrokenPipe(fds[1]);

    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    close(fds[0]);
    expectBrokenPipe(fds[1]);

    const std::string fifo = testsupport::scratchRoot() + "/fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_LE(0, reader);
    const int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_LE(0, writer);
    close(reader);
    expectBrokenPipe(writer);
}

TEST(BrokenPipe, ProgramsStartWithTheDefaultDisposition)
{
    SKIP_WITHOUT_SANDBOX();
    // A pipeline like "yes | head -1" relies on the signal to end its writer.
    std::string output;
    ASSERT_EQ(0, platform().shell().capture("grep SigIgn /proc/self/status", &output));
    const unsigned long long ignored = std::stoull(output.substr(output.find('\t') + 1), nullptr, 16);
    EXPECT_EQ(0u, ignored & (1ull << (SIGPIPE - 1))) << output;
}
