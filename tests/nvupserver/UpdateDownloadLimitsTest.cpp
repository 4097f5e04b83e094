// What bounds a download: the attempts and the time a package may take, the
// size it may reach and the room it leaves on its file system.
#include "DownloadFixture.h"

#include "base/log/RootPath.h"
#include "support/TestNamespaces.h"
#include "support/TmpfsMounts.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace nvupserver;

namespace {

long long freeBytes(const std::string& folder)
{
    struct statvfs fs;
    if (statvfs(folder.c_str(), &fs) != 0)
        return -1;
    return static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
}

bool mentions(const std::vector<std::pair<int, std::string>>& errors, const std::string& word)
{
    return std::any_of(errors.begin(), errors.end(),
                       [&](const std::pair<int, std::string>& error) { return error.second.find(word) != std::string::npos; });
}

} // namespace

class DownloadLimitsTest : public DownloadTest
{
protected:
    // Runs a download on its thread and waits for its result, stopping it
    // when it has not ended in `timeoutMs`. Its milliseconds.
    long long downloadWithin(const DownloadInfo& download, int timeoutMs)
    {
        const long long start = testsupport::monotonicMs();
        EXPECT_EQ(m_client->download(download, m_reports.resultCallback(), m_reports.progressCallback()), 0);
        const bool ended = testsupport::eventually([&] { return m_reports.count() == 1; }, timeoutMs, 10000);
        const long long took = testsupport::monotonicMs() - start;
        if (!ended) {
            ADD_FAILURE() << "the download was still running after " << timeoutMs << " ms";
            m_client->stopDownload();
            testsupport::eventually([&] { return m_reports.count() == 1; }, 10000);
        }
        return took;
    }

    int result()
    {
        std::lock_guard<std::mutex> guard(m_reports.lock);
        return m_reports.results.empty() ? 99 : m_reports.results[0].first;
    }
};

TEST_F(DownloadLimitsTest, EndlessBodyStopsAtTheLargestPackageAllowed)
{
    serve(Json::Value(Json::objectValue));
    Json::Value routes = parse(testsupport::readFile(m_dir + "/server0/routes.json"));
    routes["/p/pkg.bin"] = Json::Value(Json::objectValue);
    routes["/p/pkg.bin"]["endless"] = true;
    server().setRoutes(text(routes));
    DownloadLimits limits;
    limits.maxPackageBytes = 1 << 20;
    m_client->setDownloadLimits(limits);

    downloadWithin(info(), 20000);
    EXPECT_EQ(result(), -1);
    EXPECT_TRUE(mentions(m_errors, "larger than 1048576 bytes")) << (m_errors.empty() ? "" : m_errors[0].second);
    EXPECT_EQ(packageRequests().size(), 1u) << "another attempt brings no smaller package";
    expectNoFiles();
}

TEST_F(DownloadLimitsTest, AnnouncedPackageLargerThanAllowedIsRefused)
{
    serve(Json::Value(Json::objectValue));
    DownloadLimits limits;
    limits.maxPackageBytes = 100000;
    m_client->setDownloadLimits(limits);
    EXPECT_EQ(m_client->downloadSync(info(), m_reports.progressCallback()), -1);
    EXPECT_TRUE(mentions(m_errors, "larger than 100000 bytes"));
    EXPECT_EQ(packageRequests().size(), 1u);
    expectNoFiles();

    // Resumed, the rest fits the bound but the whole file does not.
    limits.maxPackageBytes = 200000;
    m_client->setDownloadLimits(limits);
    m_errors.clear();
    testsupport::writeFile(m_target + ".part", testsupport::readFile(m_source).substr(0, 150000));
    EXPECT_EQ(m_client->downloadSync(info(), m_reports.progressCallback()), -1);
    EXPECT_TRUE(mentions(m_errors, "larger than 200000 bytes"));
    EXPECT_EQ(packageRequests().size(), 2u);
    expectNoFiles();
}

TEST_F(DownloadLimitsTest, TricklingAttemptsEndAtTheAttemptLimit)
{
    Json::Value trickle(Json::objectValue);
    trickle["throttle"] = 100; // ten bytes every tenth of a second
    serve(trickle);
    DownloadLimits limits;
    limits.attempts = 3;
    limits.attemptSeconds = 1;
    m_client->setDownloadLimits(limits);
    downloadWithin(info(), 30000);
    EXPECT_EQ(result(), -1);
    EXPECT_EQ(packageRequests().size(), 3u);
    expectNoFiles();
    EXPECT_EQ(lastFeedback()["Result"], -1);
}

TEST_F(DownloadLimitsTest, TricklingPackageEndsWhenItsTimeRunsOut)
{
    Json::Value trickle(Json::objectValue);
    trickle["throttle"] = 100;
    serve(trickle);
    DownloadLimits limits;
    limits.packageSeconds = 2; // the attempts keep their 60 s
    m_client->setDownloadLimits(limits);
    const long long took = downloadWithin(info(), 30000);
    EXPECT_EQ(result(), -1);
    EXPECT_GE(took, 1900);
    EXPECT_EQ(packageRequests().size(), 1u);
    EXPECT_TRUE(mentions(m_errors, "time")) << (m_errors.empty() ? "" : m_errors[0].second);
    expectNoFiles();
}

// The package folder on a tmpfs of 4 MiB, in the test's own namespaces, with
// 1 MiB to be kept free; the server runs there too.
class DownloadRoomTest : public UpdateFixture
{
protected:
    void runWithSmallFolder(const std::function<void()>& body)
    {
        RUN_IN_TEST_NAMESPACES([&] {
            testsupport::TmpfsMounts mounts;
            testsupport::makeDirs(rootPath("/pkgfs"));
            ASSERT_EQ(mounts.mount("tmpfs", "/pkgfs", "tmpfs", 0, "size=4m"), 0) << strerror(errno);
            m_folder = rootPath("/pkgfs");
            m_whole = freeBytes(m_folder);
            addServer();
            DownloadLimits limits;
            limits.reserveBytes = kReserve;
            m_client->setDownloadLimits(limits);
            body();
        });
    }

    // The server offers `behaviour` at /p/pkg.bin; a download of it into the small folder.
    DownloadInfo offerPackage(Json::Value behaviour)
    {
        Json::Value routes(Json::objectValue);
        routes["/p/pkg.bin"] = behaviour;
        server().setRoutes(text(routes));
        return softwareDownload(server().baseUrl() + "/p/pkg.bin", m_folder + "/pkg.bin",
                                m_md5.empty() ? std::string(32, '0') : m_md5);
    }

    // The server offers the file at `source`.
    DownloadInfo offerFile(const std::string& source)
    {
        Json::Value file(Json::objectValue);
        file["file"] = source;
        return offerPackage(file);
    }

    // Fills the small folder until `left` bytes are free.
    void fillUntil(long long left)
    {
        testsupport::writeFile(m_folder + "/filler", std::string(size_t(freeBytes(m_folder) - left), 'f'));
    }

    int packageRequests()
    {
        int count = 0;
        for (const Json::Value& request : requests())
            count += request["path"] == "/p/pkg.bin";
        return count;
    }

    void expectNoPackageFiles()
    {
        EXPECT_FALSE(testsupport::fileExists(m_folder + "/pkg.bin"));
        EXPECT_FALSE(testsupport::fileExists(m_folder + "/pkg.bin.part"));
    }

    static const long long kReserve = 1 << 20;
    std::string m_folder;
    long long m_whole = 0;
    std::string m_md5;
};

TEST_F(DownloadRoomTest, EndlessBodyStopsBeforeTheFileSystemIsFull)
{
    runWithSmallFolder([&] {
        Json::Value endless(Json::objectValue);
        endless["endless"] = true;
        long long least = m_whole;
        auto watch = [&](PackageType, double, double) { least = std::min(least, freeBytes(m_folder)); };
        EXPECT_EQ(m_client->downloadSync(offerPackage(endless), watch), -1);
        EXPECT_GE(least, kReserve - 64 * 1024) << "the download ate into the room kept free";
        EXPECT_LT(least, m_whole) << "nothing was written at all";
        EXPECT_TRUE(mentions(m_errors, "room")) << (m_errors.empty() ? "" : m_errors[0].second);
        EXPECT_EQ(packageRequests(), 1);
        expectNoPackageFiles();
    });
}

TEST_F(DownloadRoomTest, FolderWithoutRoomIsRefusedBeforeAskingTheServer)
{
    runWithSmallFolder([&] {
        std::string md5;
        const std::string source = makePackage("source.bin", 1000, md5);
        fillUntil(kReserve / 2);
        EXPECT_EQ(m_client->downloadSync(offerFile(source), ProgressCallback()), -1);
        EXPECT_EQ(packageRequests(), 0);
        EXPECT_TRUE(mentions(m_errors, "room")) << (m_errors.empty() ? "" : m_errors[0].second);
        expectNoPackageFiles();
    });
}

TEST_F(DownloadRoomTest, AnnouncedPackageThatDoesNotFitIsRefused)
{
    runWithSmallFolder([&] {
        // 1 MiB to fetch where 512 KiB can be spared; it would fit in the room kept free.
        const std::string source = makePackage("source.bin", 1 << 20, m_md5);
        fillUntil(kReserve + kReserve / 2);
        EXPECT_EQ(m_client->downloadSync(offerFile(source), ProgressCallback()), -1);
        EXPECT_EQ(packageRequests(), 1);
        EXPECT_TRUE(mentions(m_errors, "room")) << (m_errors.empty() ? "" : m_errors[0].second);
        expectNoPackageFiles();

        // Once there is room, it comes.
        testsupport::writeFile(m_folder + "/filler", "");
        EXPECT_EQ(m_client->downloadSync(offerFile(source), ProgressCallback()), 0);
        EXPECT_EQ(testsupport::readFile(m_folder + "/pkg.bin"), testsupport::readFile(source));
    });
}
