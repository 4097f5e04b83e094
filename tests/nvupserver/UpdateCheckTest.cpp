#include "UpdateFixture.h"

#include "support/TestSupport.h"

#include <atomic>
#include <cerrno>
#include <mutex>

using namespace nvupserver;

namespace {

const char kMd5[] = "00112233445566778899aabbccddeeff";

Json::Value failure(int code, const std::string& message)
{
    Json::Value answer(Json::objectValue);
    answer["ErrorCode"] = code;
    answer["Message"] = message;
    return answer;
}

} // namespace

TEST_F(UpdateFixture, CheckSendsTheIdentityAndReadsTheOffer)
{
    addServer();
    setRoutes(0, offer({{3, "https://127.0.0.1/p/soft.tar.xz"}, {0, "https://127.0.0.1/p/k.tar.xz"}}, kMd5));
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), 0);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(answer.sessionId, "abc123");
    EXPECT_TRUE(answer.message.empty());
    ASSERT_EQ(answer.packages.size(), 2u);
    EXPECT_EQ(answer.packages[0].type, PACKAGE_KERNEL);
    EXPECT_EQ(answer.packages[1].url, "https://127.0.0.1/p/soft.tar.xz");
    EXPECT_EQ(answer.packages[1].md5, kMd5);

    const std::vector<Json::Value> sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["method"], "POST");
    EXPECT_EQ(sent[0]["path"], "/update");
    EXPECT_EQ(sent[0]["cookie"], "");
    EXPECT_EQ(sent[0]["content_type"], "application/json");
    const Json::Value body = parse(sent[0]["body"].asString());
    EXPECT_EQ(body["SN"], "SN0001");
    EXPECT_EQ(body["VID"], "V1");
    EXPECT_EQ(body["PID"], "P2");
    EXPECT_EQ(body["Name"], "printer");
    EXPECT_EQ(body["OEMName"], "oem");
    EXPECT_EQ(body["HardwareVersion"]["Version"], "1.2.3");
    EXPECT_EQ(body["HardwareVersion"]["BuildTime"], "1970-01-01 00:00:00");
    EXPECT_EQ(body["ControlVersion"]["Version"], "1.0.4");
    EXPECT_EQ(body["ControlVersion"]["BuildTime"], "1970-01-02 00:00:00");
    EXPECT_EQ(body["SoftwareVersion"]["BuildTime"], "2023-11-14 22:13:20");
    EXPECT_FALSE(body.isMember("KernelVersion"));
    EXPECT_FALSE(body.isMember("LibraryVersion"));
    EXPECT_EQ(sent[0]["body"].asString().find('\n'), std::string::npos) << "compact body";
}

TEST_F(UpdateFixture, InvalidIdentityFailsWithoutARequest)
{
    addServer();
    ClientInfo info = client();
    info.packageVersions.clear();
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, info), -1);
    EXPECT_EQ(answer.message, "invalid params(sn|vid|pid|packageVersions)");
    EXPECT_TRUE(server().requests().empty());
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(UpdateFixture, UnreadableAnswersAreFailuresWithoutErrorCallback)
{
    addServer();
    Json::Value routes(Json::objectValue);
    const char* const bodies[] = {"<html>oops</html>", "[200]", "{\"Message\":\"no code\"}",
                                  "{\"ErrorCode\":200,\"SoftwarePackage\":[1]}"};
    for (const char* body : bodies) {
        routes["/update"]["body"] = body;
        server().setRoutes(text(routes));
        PackageUpdateInfo answer;
        EXPECT_EQ(m_client->checkUpdateSync(answer, client()), -1) << body;
        EXPECT_TRUE(answer.packages.empty());
    }
    // Answers are capped: a huge one is a failed transfer.
    routes["/update"]["body"] = "{\"ErrorCode\":200,\"Message\":\"" + std::string(2 << 20, 'x') + "\"}";
    server().setRoutes(text(routes));
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), -1);
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0].second, "post check data error");
}

TEST_F(UpdateFixture, ServiceErrorReachesTheErrorCallback)
{
    addServer();
    setRoutes(0, failure(403, "denied"));
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), 403);
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0], std::make_pair(403, std::string("denied")));
    setRoutes(0, failure(500, ""));
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), 500);
    EXPECT_EQ(m_errors.back(), std::make_pair(500, std::string("unknown error")));
    setRoutes(0, failure(0, "no"));
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), -1);
    EXPECT_EQ(m_errors.back(), std::make_pair(0, std::string("no")));
}

TEST_F(UpdateFixture, SuccessWinsOverFailureWhicheverServerGivesIt)
{
    addServer();
    addServer();
    // The first server fails fast, the second answers slowly with packages.
    setRoutes(0, failure(503, "busy"));
    Json::Value slow(Json::objectValue);
    slow["/update"]["delay_ms"] = 300;
    setRoutes(1, offer({{3, "https://127.0.0.1/s.bin"}}, kMd5), slow);
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), 0);
    EXPECT_EQ(answer.packages.size(), 1u);
    EXPECT_EQ(requests(1).size(), 1u);

    // Now the first succeeds and the second cannot be reached.
    setRoutes(0, offer({{0, "https://127.0.0.1/k.bin"}}, kMd5));
    Json::Value missing(Json::objectValue);
    missing["/update"]["status"] = 502;
    missing["/update"]["body"] = "<html>bad gateway</html>";
    missing["/update"]["content_type"] = "text/html";
    server(1).setRoutes(text(missing));
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), 0);
    ASSERT_EQ(answer.packages.size(), 1u);
    EXPECT_EQ(answer.packages[0].type, PACKAGE_KERNEL);
}

TEST_F(UpdateFixture, QuickerSuccessWithPackagesReplacesTheFirst)
{
    addServer();
    addServer();
    Json::Value slow(Json::objectValue);
    slow["/update"]["delay_ms"] = 1000;
    setRoutes(0, offer({{0, "https://127.0.0.1/k.bin"}}, kMd5), slow);
    setRoutes(1, offer({{3, "https://127.0.0.1/s.bin"}}, kMd5));
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), 0);
    ASSERT_EQ(answer.packages.size(), 1u);
    EXPECT_EQ(answer.packages[0].type, PACKAGE_SOFTWARE);

    // A quicker success without packages does not replace an offer.
    setRoutes(1, offer({}, kMd5));
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), 0);
    ASSERT_EQ(answer.packages.size(), 1u);
    EXPECT_EQ(answer.packages[0].type, PACKAGE_KERNEL);
}

TEST_F(UpdateFixture, ImpostorCertificateIsRefused)
{
    addServer(true);
    setRoutes(0, offer({{3, "https://127.0.0.1/s.bin"}}, kMd5));
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), -1);
    EXPECT_TRUE(server().requests().empty()) << "nothing sent to an unverified peer";
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0].second, "post check data error");
}

// Signed by the trusted authority, but for other addresses than the one asked.
TEST_F(UpdateFixture, CertificateOfAnotherHostIsRefused)
{
    addServer(false, "127.0.0.3");
    setRoutes(0, offer({{3, "https://127.0.0.3/s.bin"}}, kMd5));
    PackageUpdateInfo answer;
    EXPECT_EQ(m_client->checkUpdateSync(answer, client()), -1);
    EXPECT_TRUE(server().requests().empty()) << "nothing sent to a peer of another name";
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0].second, "post check data error");
}

TEST_F(UpdateFixture, EachCheckRunsOnAThreadOfItsOwnOneAfterAnother)
{
    addServer();
    setRoutes(0, offer({{3, "https://127.0.0.1/s.bin"}}, kMd5));
    std::mutex lock;
    std::vector<PackageUpdateInfo> answers;
    auto collect = [&](PackageUpdateInfo info) {
        std::lock_guard<std::mutex> guard(lock);
        answers.push_back(info);
    };
    auto count = [&] {
        std::lock_guard<std::mutex> guard(lock);
        return answers.size();
    };
    // A check thread is still alive while it delivers its answer, and a check
    // asked for meanwhile is refused: ask again until one starts.
    for (size_t round = 1; round <= 3; ++round) {
        ASSERT_TRUE(testsupport::eventually(
            [&] {
                const int started = m_client->checkUpdate(client(), collect);
                EXPECT_TRUE(started == 0 || started == EBUSY) << started;
                return started == 0;
            },
            10000))
            << "check " << round;
        ASSERT_TRUE(testsupport::eventually([&] { return count() == round; }, 10000)) << "check " << round;
    }
    EXPECT_EQ(answers.back().result, 0);
    EXPECT_EQ(answers.back().packages.size(), 1u);
    EXPECT_EQ(requests().size(), 3u);
}

TEST_F(UpdateFixture, CheckAskedForWhileOneRunsIsRefused)
{
    addServer();
    Json::Value slow(Json::objectValue);
    slow["/update"]["delay_ms"] = 1000;
    setRoutes(0, offer({{3, "https://127.0.0.1/s.bin"}}, kMd5), slow);
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    ASSERT_EQ(m_client->checkUpdate(client(), [&](PackageUpdateInfo) { ++first; }), 0);
    EXPECT_EQ(m_client->checkUpdate(client(), [&](PackageUpdateInfo) { ++second; }), EBUSY);
    ASSERT_TRUE(testsupport::eventually([&] { return first.load() == 1; }, 10000));
    m_client.reset(); // joins the check thread
    EXPECT_EQ(second.load(), 0);
    EXPECT_EQ(requests().size(), 1u);
}

TEST_F(UpdateFixture, ClosingEndsARunningCheck)
{
    addServer();
    Json::Value stalled(Json::objectValue);
    stalled["/update"]["delay_ms"] = 60000;
    setRoutes(0, offer({}, kMd5), stalled);
    std::atomic<int> answers{0};
    ASSERT_EQ(m_client->checkUpdate(client(), [&](PackageUpdateInfo) { ++answers; }), 0);
    ASSERT_TRUE(testsupport::eventually([&] { return server().requests().size() == 1; }, 10000));
    const long long start = testsupport::monotonicMs();
    m_client.reset();
    EXPECT_LT(testsupport::monotonicMs() - start, 5000);
    EXPECT_EQ(answers.load(), 1);
}
