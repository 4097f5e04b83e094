#include "DownloadFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace nvupserver;

namespace {

// How long a stop of a stalled download may take on a busy machine: far
// below the attempt's 60 s limit that an unseen stop would wait for.
constexpr long long kStopMarginMs = 10000;

} // namespace

TEST_F(DownloadTest, ResumesAfterADropAndReportsBack)
{
    Json::Value drop(Json::objectValue);
    drop["drop_after"] = 100000;
    serve(drop);
    // Whatever the umask, nobody else may change the package once it is checked.
    const mode_t mask = umask(0);
    EXPECT_EQ(m_client->downloadSync(info(), m_reports.progressCallback()), 0);
    umask(mask);
    EXPECT_EQ(testsupport::readFile(m_target), testsupport::readFile(m_source));
    EXPECT_FALSE(testsupport::fileExists(m_target + ".part"));
    struct stat package{};
    ASSERT_EQ(0, stat(m_target.c_str(), &package));
    EXPECT_EQ(0644u, package.st_mode & 07777);

    const std::vector<Json::Value> gets = packageRequests();
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0]["range"], "");
    EXPECT_EQ(gets[1]["range"], "bytes=100000-");
    EXPECT_EQ(gets[1]["cookie"], "SessionID=abc123");
    // Progress keeps moving across the attempts and ends at the whole size.
    ASSERT_FALSE(m_reports.progress.empty());
    for (size_t i = 1; i < m_reports.progress.size(); ++i)
        EXPECT_GE(m_reports.progress[i].second, m_reports.progress[i - 1].second);
    EXPECT_EQ(m_reports.progress.back(), std::make_pair(double(kSize), double(kSize)));

    const Json::Value feedback = lastFeedback();
    EXPECT_EQ(feedback["Result"], 0);
    EXPECT_EQ(feedback["Type"], 3);
    EXPECT_EQ(feedback["Version"], "2.2.0");
    EXPECT_EQ(feedback["VID"], "V1");
    EXPECT_EQ(feedback["ClientSN"], "SN0001");
    EXPECT_EQ(feedback["ClientVersion"], "2.1.5");
    EXPECT_EQ(feedback["ClientHardware"], "1.2.3");
    EXPECT_EQ(requests().back()["cookie"], "SessionID=abc123");
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(DownloadTest, EveryAttemptCountsTowardTheLimitAlsoThoseThatBroughtBytes)
{
    // A drop every 2000 bytes would need 55 attempts; 50 are allowed.
    m_source = makePackage("dropping.bin", 110000, m_md5);
    Json::Value drop(Json::objectValue);
    drop["drop_after"] = 2000;
    drop["drop_count"] = -1;
    serve(drop);
    EXPECT_EQ(m_client->downloadSync(info(), m_reports.progressCallback()), -1);
    EXPECT_EQ(packageRequests().size(), 50u);
    expectNoFiles();
    EXPECT_EQ(lastFeedback()["Result"], -1);
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0].first, -1);
}

TEST_F(DownloadTest, StopCutsThePauseBetweenAttempts)
{
    serve(Json::Value(Json::objectValue));
    // A port bound but never listened on: every attempt is refused at once and
    // the pauses grow. It stays bound, so no other test's server can take it.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    DownloadInfo closed = info();
    closed.packages[0].url = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/p/pkg.bin";
    ASSERT_EQ(m_client->download(closed, m_reports.resultCallback(), m_reports.progressCallback()), 0);
    usleep(1500 * 1000);
    const long long start = testsupport::monotonicMs();
    m_client->stopDownload();
    ASSERT_TRUE(testsupport::eventually([&] { return m_reports.count() == 1; }, 5000));
    EXPECT_LT(testsupport::monotonicMs() - start, 1000);
    EXPECT_EQ(m_reports.results[0].first, 1);
    expectNoFiles();
    close(listener);
}

TEST_F(DownloadTest, PartialFileOfAnEarlierRunIsResumed)
{
    serve(Json::Value(Json::objectValue));
    testsupport::writeFile(m_target + ".part", testsupport::readFile(m_source).substr(0, 1000));
    EXPECT_EQ(m_client->downloadSync(info(), m_reports.progressCallback()), 0);
    EXPECT_EQ(testsupport::readFile(m_target), testsupport::readFile(m_source));
    const std::vector<Json::Value> gets = packageRequests();
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0]["range"], "bytes=1000-");
    ASSERT_FALSE(m_reports.progress.empty());
    EXPECT_EQ(m_reports.progress.front().first, double(kSize));
    EXPECT_GT(m_reports.progress.front().second, 1000.0);
}

TEST_F(DownloadTest, CompletePartialFileAnswered416IsDone)
{
    serve(Json::Value(Json::objectValue));
    testsupport::writeFile(m_target + ".part", testsupport::readFile(m_source));
    EXPECT_EQ(m_client->downloadSync(info(), m_reports.progressCallback()), 0);
    EXPECT_EQ(testsupport::readFile(m_target), testsupport::readFile(m_source));
    EXPECT_EQ(packageRequests().size(), 1u);
}

TEST_F(DownloadTest, ServerIgnoringRangeRestartsTheFileOnce)
{
    Json::Value noRange(Json::objectValue);
    noRange["range"] = false;
    serve(noRange);
    testsupport::writeFile(m_target + ".part", std::string(5000, 'z'));
    EXPECT_EQ(m_client->downloadSync(info(), m_reports.progressCallback()), 0);
    EXPECT_EQ(testsupport::readFile(m_target), testsupport::readFile(m_source));
    const std::vector<Json::Value> gets = packageRequests();
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[1]["range"], "");
}

TEST_F(DownloadTest, NotFoundLeavesNoFileAndFails)
{
    serve(Json::Value(Json::objectValue));
    DownloadInfo download = info();
    download.packages[0].url = server().baseUrl() + "/p/missing.bin";
    testsupport::writeFile(m_target, "older package");
    EXPECT_EQ(m_client->downloadSync(download, m_reports.progressCallback()), -1);
    EXPECT_EQ(testsupport::readFile(m_target), "older package") << "an error page never replaces a package";
    EXPECT_FALSE(testsupport::fileExists(m_target + ".part"));
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0].first, -1);
    EXPECT_EQ(lastFeedback()["Result"], -1);
}

TEST_F(DownloadTest, WrongDigestIsDeletedAndReported)
{
    serve(Json::Value(Json::objectValue));
    EXPECT_EQ(m_client->downloadSync(info("ffffffffffffffffffffffffffffffff"), m_reports.progressCallback()), -1);
    expectNoFiles();
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_NE(m_errors[0].second.find("md5"), std::string::npos);
    EXPECT_EQ(lastFeedback()["Result"], -1);
}

TEST_F(DownloadTest, UnsafeRequestsAreRefusedWithoutAFetch)
{
    serve(Json::Value(Json::objectValue));
    DownloadInfo plain = info();
    plain.packages[0].url = "http://127.0.0.1:" + std::to_string(server().port()) + "/p/pkg.bin";
    EXPECT_EQ(m_client->downloadSync(plain, m_reports.progressCallback()), -1);
    DownloadInfo dots = info();
    dots.packages[0].url = server().baseUrl() + "/p/..";
    EXPECT_EQ(m_client->downloadSync(dots, m_reports.progressCallback()), -1);
    DownloadInfo unverified = info();
    unverified.packages[0].md5.clear();
    EXPECT_EQ(m_client->downloadSync(unverified, m_reports.progressCallback()), -1);
    DownloadInfo injected = info();
    injected.sessionId = "abc\r\nX-Evil: 1";
    EXPECT_EQ(m_client->downloadSync(injected, m_reports.progressCallback()), -1);
    EXPECT_TRUE(packageRequests().empty());
    expectNoFiles();
}

TEST_F(DownloadTest, ImpostorPackageServerIsRefusedAtOnce)
{
    serve(Json::Value(Json::objectValue));
    testsupport::HttpsTestServer& impostor = addServer(true);
    impostor.setRoutes(testsupport::readFile(m_dir + "/server0/routes.json"));
    DownloadInfo download = info();
    download.packages[0].url = impostor.baseUrl() + "/p/pkg.bin";
    const long long start = testsupport::monotonicMs();
    EXPECT_EQ(m_client->downloadSync(download, m_reports.progressCallback()), -1);
    EXPECT_LT(testsupport::monotonicMs() - start, 5000) << "a certificate that does not verify is not retried";
    EXPECT_TRUE(impostor.requests().empty());
    expectNoFiles();
}

TEST_F(DownloadTest, RedirectToPlainHttpIsRefused)
{
    serve(Json::Value(Json::objectValue));
    Json::Value routes = parse(testsupport::readFile(m_dir + "/server0/routes.json"));
    routes["/p/moved.bin"]["status"] = 302;
    routes["/p/moved.bin"]["location"] = "http://127.0.0.1:" + std::to_string(server().port()) + "/p/pkg.bin";
    server().setRoutes(text(routes));
    DownloadInfo moved = info();
    moved.packages[0].url = server().baseUrl() + "/p/moved.bin";
    EXPECT_EQ(m_client->downloadSync(moved, m_reports.progressCallback()), -1);
    EXPECT_TRUE(packageRequests().empty());
    expectNoFiles();
}

TEST_F(DownloadTest, SessionGoesOnlyToTheHostItWasGivenTo)
{
    serve(Json::Value(Json::objectValue));
    testsupport::HttpsTestServer& other = addServer(false, "127.0.0.2");
    Json::Value otherRoutes(Json::objectValue);
    otherRoutes["/p/pkg.bin"]["file"] = m_source;
    other.setRoutes(text(otherRoutes));
    Json::Value routes = parse(testsupport::readFile(m_dir + "/server0/routes.json"));
    routes["/p/away.bin"]["status"] = 302;
    routes["/p/away.bin"]["location"] = other.baseUrl() + "/p/pkg.bin";
    routes["/p/near.bin"]["status"] = 302;
    routes["/p/near.bin"]["location"] = "/p/pkg.bin";
    server().setRoutes(text(routes));

    // Redirected to another host: the package comes, the session id stays here.
    DownloadInfo away = info();
    away.packages[0].url = server().baseUrl() + "/p/away.bin";
    EXPECT_EQ(m_client->downloadSync(away, m_reports.progressCallback()), 0);
    EXPECT_EQ(testsupport::readFile(m_target), testsupport::readFile(m_source));
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_EQ(parse(other.requests()[0])["cookie"], "") << "the session id went to another host";
    EXPECT_TRUE(packageRequests().empty());

    // Redirected on the same server: it still has the session.
    DownloadInfo near = info();
    near.packages[0].url = server().baseUrl() + "/p/near.bin";
    EXPECT_EQ(m_client->downloadSync(near, m_reports.progressCallback()), 0);
    const std::vector<Json::Value> gets = packageRequests();
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0]["cookie"], "SessionID=abc123");
}

TEST_F(DownloadTest, PackagesSharingAPathAreRefused)
{
    serve(Json::Value(Json::objectValue));
    DownloadInfo both = info();
    PackageInfo kernel = both.packages[0];
    kernel.type = PACKAGE_KERNEL;
    both.packages.insert(both.packages.begin(), kernel);
    EXPECT_EQ(m_client->downloadSync(both, m_reports.progressCallback()), -1);
    EXPECT_TRUE(packageRequests().empty());
    expectNoFiles();
}

TEST_F(DownloadTest, StopEndsAStalledTransferPromptly)
{
    startStalledDownload();
    // Nothing new arrives any more; the stop must still be seen, at
    // libcurl's next report (about once a second while nothing arrives).
    const long long start = testsupport::monotonicMs();
    m_client->stopDownload();
    ASSERT_TRUE(testsupport::eventually([&] { return m_reports.count() == 1; }, 20000));
    EXPECT_LT(testsupport::monotonicMs() - start, kStopMarginMs);
    EXPECT_EQ(m_reports.results[0], std::make_pair(1, std::string("download canceled")));
    expectNoFiles();
    EXPECT_EQ(lastFeedback()["Result"], 1);
}

// A program the printer starts while a package arrives must not get the
// partial file or the connection: through them it could change the package.
TEST_F(DownloadTest, PartialFileAndConnectionCloseWhenAProgramStarts)
{
    startStalledDownload();
    int partFiles = 0;
    int connections = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        struct stat info{};
        if (fstat(fd, &info) != 0)
            continue;
        bool reaches = false;
        if (S_ISSOCK(info.st_mode)) {
            sockaddr_in peer = {};
            socklen_t length = sizeof peer;
            reaches = getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
                      peer.sin_family == AF_INET && ntohs(peer.sin_port) == server().port();
            connections += reaches;
        } else if (S_ISREG(info.st_mode)) {
            std::error_code error;
            const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
            reaches = target.size() > 9 && target.compare(target.size() - 9, 9, ".bin.part") == 0;
            partFiles += reaches;
        }
        if (reaches) {
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd << " is inherited";
        }
    }
    EXPECT_EQ(partFiles, 1);
    EXPECT_GE(connections, 1);
    m_client->stopDownload();
    ASSERT_TRUE(testsupport::eventually([&] { return m_reports.count() == 1; }, 5000));
}

// Another writer changes the partial file while the package arrives, in place
// or at its end: what would be put in place is not the package asked for.
TEST_F(DownloadTest, PartialFileChangedBehindTheClientIsRefused)
{
    const std::string marker = m_dir + "/go-on";
    Json::Value held(Json::objectValue);
    held["stall_after"] = 100000;
    held["resume_when"] = marker;
    serve(held);
    const std::string part = m_target + ".part";
    const auto partSize = [&] {
        struct stat info{};
        return stat(part.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0LL;
    };
    for (const bool atTheEnd : {false, true}) {
        SCOPED_TRACE(atTheEnd ? "appended" : "overwritten");
        std::remove(marker.c_str());
        m_errors.clear();
        int result = 99;
        std::thread download([&] { result = m_client->downloadSync(info(), ProgressCallback()); });
        EXPECT_TRUE(testsupport::eventually([&] { return partSize() >= 65536; }, 10000));
        const int fd = open(part.c_str(), O_WRONLY | O_CLOEXEC | (atTheEnd ? O_APPEND : 0));
        EXPECT_GE(fd, 0);
        const std::string changed(16, 'X');
        if (atTheEnd)
            EXPECT_EQ(write(fd, changed.data(), changed.size()), ssize_t(changed.size()));
        else
            EXPECT_EQ(pwrite(fd, changed.data(), changed.size(), 1000), ssize_t(changed.size()));
        close(fd);
        testsupport::writeFile(marker, "");
        download.join();
        EXPECT_EQ(result, -1);
        expectNoFiles();
        ASSERT_EQ(m_errors.size(), 1u);
        EXPECT_EQ(m_errors[0].first, -1);
        EXPECT_EQ(lastFeedback()["Result"], -1);
    }
}

TEST_F(DownloadTest, SecondDownloadWhileOneRunsChangesNothing)
{
    Json::Value slow(Json::objectValue);
    slow["throttle"] = 200000;
    serve(slow);
    ASSERT_EQ(m_client->download(info(), m_reports.resultCallback(), m_reports.progressCallback()), 0);
    Reports second;
    DownloadInfo other = info("ffffffffffffffffffffffffffffffff");
    EXPECT_EQ(m_client->download(other, second.resultCallback(), second.progressCallback()), 0);
    ASSERT_TRUE(testsupport::eventually([&] { return m_reports.count() == 1; }, 20000));
    EXPECT_EQ(m_reports.results[0], std::make_pair(0, std::string("download success")));
    EXPECT_EQ(second.count(), 0u);
    EXPECT_EQ(second.progressCount(), 0u);
    EXPECT_EQ(packageRequests().size(), 1u);

    // Once it has ended, the next download starts (the running flag clears
    // right after the result callback, so a call may still come too early).
    serve(Json::Value(Json::objectValue));
    bool finished = false;
    for (int i = 0; i < 20 && !finished; ++i) {
        m_client->download(info(), second.resultCallback(), second.progressCallback());
        finished = testsupport::eventually([&] { return second.count() == 1; }, 2000);
    }
    EXPECT_TRUE(finished);
}

TEST_F(DownloadTest, ClosingStopsARunningDownload)
{
    startStalledDownload();
    const long long start = testsupport::monotonicMs();
    m_client.reset();
    EXPECT_LT(testsupport::monotonicMs() - start, kStopMarginMs);
    EXPECT_EQ(m_reports.count(), 1u);
    EXPECT_FALSE(testsupport::fileExists(m_target + ".part"));
}
