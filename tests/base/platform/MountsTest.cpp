// The mount seam: the real one leaves the host's mounts alone under a scratch
// root; the test double mounts for real in the test's own namespace and reads
// back as the board does.
#include "base/log/RootPath.h"
#include "base/platform/Mounts.h"
#include "base/platform/Platform.h"
#include "support/TestNamespaces.h"
#include "support/TestSupport.h"
#include "support/TmpfsMounts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>

using testsupport::makeDirs;
using testsupport::TmpfsMounts;
using testsupport::writeFile;

namespace {

std::string table()
{
    std::string text;
    EXPECT_TRUE(platform().mounts().readTable(&text));
    return text;
}

} // namespace

TEST(Mounts, TheRealSeamRefusesUnderAScratchRoot)
{
    ASSERT_FALSE(rootPrefix().empty());
    makeDirs(rootPath("/media/sda1"));
    errno = 0;
    EXPECT_EQ(-1, platform().mounts().mount("/dev/sda1", "/media/sda1", "vfat", 0, "codepage=437"));
    EXPECT_EQ(EPERM, errno);
    errno = 0;
    EXPECT_EQ(-1, platform().mounts().unmount("/", MNT_DETACH));
    EXPECT_EQ(EPERM, errno);
    EXPECT_NE(std::string::npos, table().find(" / ")); // reading is harmless

    // The double is no way round it outside the test's namespaces.
    TmpfsMounts mounts;
    errno = 0;
    EXPECT_EQ(-1, platform().mounts().mount("/dev/sda1", "/media/sda1", "vfat", 0, ""));
    EXPECT_EQ(EPERM, errno);
}

TEST(Mounts, TheDoubleMountsTmpfsUnderTheBoardNames)
{
    RUN_IN_TEST_NAMESPACES([] {
        TmpfsMounts mounts;
        makeDirs(rootPath("/media/sda1"));
        ASSERT_EQ(0, platform().mounts().mount("/dev/sda1", "/media/sda1", "vfat", 0,
                                              "codepage=437,iocharset=utf8,shortname=mixed,errors=remount-ro"));
        EXPECT_EQ("/dev/sda1 /media/sda1 tmpfs", table().substr(0, 27)) << table();
        ASSERT_EQ(1u, mounts.calls().size());
        EXPECT_EQ("vfat", mounts.calls()[0].type);
        EXPECT_EQ("codepage=437,iocharset=utf8,shortname=mixed,errors=remount-ro", mounts.calls()[0].data);

        writeFile(rootPath("/media/sda1/model.qds"), "layers");
        ASSERT_EQ(0, unmountOrDetach("/media/sda1"));
        EXPECT_EQ("", table());
        EXPECT_FALSE(testsupport::fileExists(rootPath("/media/sda1/model.qds")));

        mounts.failMounts("/dev/sdb1", EINVAL);
        errno = 0;
        EXPECT_EQ(-1, platform().mounts().mount("/dev/sdb1", "/media/sda1", "vfat", 0, ""));
        EXPECT_EQ(EINVAL, errno);
    });
}

TEST(Mounts, ABusyMountIsDetachedLazily)
{
    RUN_IN_TEST_NAMESPACES([] {
        TmpfsMounts mounts;
        makeDirs(rootPath("/media/sda1"));
        ASSERT_EQ(0, platform().mounts().mount("/dev/sda1", "/media/sda1", "vfat", 0, ""));
        writeFile(rootPath("/media/sda1/open.txt"), "still here");
        const int fd = open(rootPath("/media/sda1/open.txt").c_str(), O_RDONLY);
        ASSERT_LE(0, fd);

        errno = 0;
        EXPECT_EQ(-1, platform().mounts().unmount("/media/sda1", 0));
        EXPECT_EQ(EBUSY, errno);
        EXPECT_EQ(0, unmountOrDetach("/media/sda1"));
        EXPECT_EQ("", table());

        char text[16] = {};
        EXPECT_EQ(10, read(fd, text, sizeof text)); // the open file lives on
        EXPECT_STREQ("still here", text);
        close(fd);
    });
}
