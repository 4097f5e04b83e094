#pragma once

#include <functional>
#include <string>

// Runs part of a test inside namespaces of its own, so that DHCP servers,
// netlink link events, uevents, multicast, chronyd and mounts are real while
// the host's network, mounts and processes stay untouched.
//
// The body runs in a forked process that holds new network, mount and pid
// namespaces:
//   - network: only a loopback interface, already up;
//   - mount: a private copy of the host's mounts (nothing propagates back)
//     with a fresh /proc, so /proc/mounts and process ids are the namespace's,
//     and an empty /run (and /var/run) of its own, for daemons' sockets;
//   - pid: the body is process 1; when it returns, every process it left
//     behind (daemons started with -B, a chronyd) is killed by the kernel.
// The scratch root, the environment and the file system are shared with the
// test, so files the body writes are there for the test afterwards. Memory is
// not shared: pass results back through files.
//
// Use GoogleTest assertions in the body as anywhere else: each failure is
// reported in the test with its file and line (a failed ASSERT_ returns from
// the body only). A GTEST_SKIP in the body skips the test. A body that dies
// by a signal or exits by itself fails the test.
//
// Where the namespaces cannot be made for want of privilege (not root, or
// without CAP_SYS_ADMIN) the test is skipped with the reason; where the
// process has it and they still cannot be made (a kernel without them, a
// sandbox that refuses unshare) the test fails with the cause. It never
// passes without having run its body.
//
// Call it from the test's own thread while no other thread of the test runs
// (the body starts in a forked copy of the process).
//
//   TEST(HotPlug, MountsAnAddedPartition)
//   {
//       RUN_IN_TEST_NAMESPACES([&] {
//           ... EXPECT_EQ(...) ...
//       });
//   }
#define RUN_IN_TEST_NAMESPACES(body)                                                           \
    do {                                                                                       \
        bool talviksSkip_ = false;                                                             \
        const std::string talviksWhy_ = testsupport::runInTestNamespaces(body, &talviksSkip_); \
        if (talviksSkip_)                                                                      \
            GTEST_SKIP() << talviksWhy_;                                                       \
        if (!talviksWhy_.empty())                                                              \
            FAIL() << talviksWhy_;                                                             \
    } while (0)

namespace testsupport {

// Runs `body` as described above and adds its failures to the current test.
// Empty when the body ran; otherwise why not (the namespaces unavailable, or
// the body skipped itself), with *skip set where that is a reason to skip
// the test rather than a fault.
std::string runInTestNamespaces(const std::function<void()>& body, bool* skip = nullptr);

// True inside a body run by runInTestNamespaces (and in processes it forks).
bool insideTestNamespaces();

// Runs a command line with "/bin/sh -c" past the Shell seam and its host
// guard, for setting up the namespaces themselves ("ip link add veth0 type
// veth peer name veth1", a busybox udhcpd). Only inside the test namespaces:
// elsewhere it runs nothing, fails the test and answers -1. Otherwise the
// exit code (-1 when the command was killed); standard output is appended to
// `output` when given.
int runInsideTestNamespaces(const std::string& command, std::string* output = nullptr);

// Waits inside the test namespaces until an interface of theirs has its
// carrier (the kernel marks it a moment after both ends are up).
bool waitForCarrier(const std::string& interface, int timeoutMs = 10000);

} // namespace testsupport
