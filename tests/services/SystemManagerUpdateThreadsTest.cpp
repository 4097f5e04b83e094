// The update operations' shared state as the client's threads and the pages
// meet on it, with no event queue between them: the reports are taken by
// direct connections on the client's threads while other threads read the
// state and start and stop downloads. Unlike the queued end-to-end tests,
// the thread sanitizer can follow every step of this.
#include "SystemManagerFixture.h"

#include "nvupserver/Md5.h"
#include "support/TestSupport.h"
#include "support/UpdateAnswers.h"

#include <json/json.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace nvupserver;

namespace {

// What the client's threads reported, as they reported it.
struct Reports
{
    std::vector<bool> checks;
    std::vector<bool> results;
    std::vector<QString> messages;
    int progress = 0;
};

} // namespace

class UpdateThreadsTest : public SystemManagerTest
{
protected:
    void SetUp() override
    {
        SystemManagerTest::SetUp();
        const std::string dir = testsupport::scratchRoot() + "/update";
        ASSERT_NO_FATAL_FAILURE(startWithUpdateServer(dir, m_server, m_manager));

        const std::string package = dir + "/software.bin";
        testsupport::writeFile(package, std::string(200000, 'p'));
        ASSERT_TRUE(fileMd5Hex(package, m_md5));
        m_routes["/download/feedback"]["body"] = "{\"ErrorCode\":200,\"Message\":\"ok\"}";
        m_routes["/pkg/software.bin"]["file"] = package;

        const auto direct = Qt::DirectConnection;
        QObject::connect(m_manager, &SystemManager::sig_checkUpdate, m_manager, [this](bool offered) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reports.checks.push_back(offered);
        }, direct);
        QObject::connect(m_manager, &SystemManager::sig_downloadedRet, m_manager, [this](bool ok) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reports.results.push_back(ok);
        }, direct);
        QObject::connect(m_manager, &SystemManager::sig_downloadedMsg, m_manager, [this](QString text) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reports.messages.push_back(text);
        }, direct);
        QObject::connect(m_manager, &SystemManager::sig_downloadProgress, m_manager,
                         [this](PackageType, double, double) {
                             std::lock_guard<std::mutex> lock(m_mutex);
                             ++m_reports.progress;
                         },
                         direct);
    }

    // The software package, served as `route` says (extra keys of the route).
    void offerSoftware(const Json::Value& route)
    {
        for (const auto& key : route.getMemberNames())
            m_routes["/pkg/software.bin"][key] = route[key];
        m_routes["/update"]["body"] = testsupport::compactJson(
            testsupport::checkAnswer({{3, m_server->baseUrl() + "/pkg/software.bin"}}, m_md5, "session-1"));
        m_server->setRoutes(testsupport::compactJson(m_routes));
    }

    // Polls the reports without running any event loop.
    bool until(const std::function<bool(const Reports&)>& condition)
    {
        return testsupport::eventually([&] { return condition(reports()); }, 30000);
    }

    Reports reports()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }

    // Asks for a check until the server has its request (the last check's
    // thread may still be on its way out, and then a check starts nothing).
    bool checkAgain(bool autoDownload)
    {
        const size_t before = checkRequests();
        return testsupport::eventually([&] {
            if (checkRequests() == before)
                m_manager->checkUpdate(autoDownload);
            return checkRequests() > before;
        }, 30000, 50000);
    }

    size_t checkRequests() const
    {
        size_t count = 0;
        for (const std::string& line : m_server->requests())
            count += line.find("\"/update\"") != std::string::npos;
        return count;
    }

    std::unique_ptr<testsupport::HttpsTestServer> m_server;
    SystemManager* m_manager = nullptr;
    std::string m_md5;
    Json::Value m_routes{Json::objectValue};
    std::mutex m_mutex;
    Reports m_reports;
};

TEST_F(UpdateThreadsTest, ReportsAndPagesMeetOnlyThroughCopies)
{
    // A page that keeps reading the update state while the client's threads write it.
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread page([&] {
        while (!done) {
            m_manager->updatePackageCount();
            m_manager->isDownloaded();
            const SystemManager::PackageMap list = m_manager->packageInfoList();
            const PackageUpdateInfo offer = m_manager->serverVersionInfo();
            if (list.size() > 1 || offer.packages.size() > 1)
                ADD_FAILURE() << "only the software package was offered";
            ++reads;
        }
    });

    // A check that downloads at once, from the check thread.
    Json::Value slow;
    slow["throttle"] = 400000;
    offerSoftware(slow);
    ASSERT_TRUE(m_manager->checkUpdate(true));
    // The message of a download that succeeded comes after its result.
    ASSERT_TRUE(until([](const Reports& r) {
        return r.checks.size() == 1 && r.results.size() == 1 && (!r.results[0] || r.messages.size() == 1);
    }));
    Reports seen = reports();
    EXPECT_EQ(std::vector<bool>{true}, seen.checks);
    EXPECT_EQ(std::vector<bool>{true}, seen.results);
    EXPECT_EQ(std::vector<QString>{"3,"}, seen.messages);
    EXPECT_TRUE(m_manager->isDownloaded());

    // Two pages ask for the download at once: one of them gets it. Stopped
    // while it runs, it ends as a failure.
    Json::Value stalling;
    stalling["stall_after"] = 50000;
    offerSoftware(stalling);
    ASSERT_TRUE(checkAgain(false));
    ASSERT_TRUE(until([](const Reports& r) { return r.checks.size() >= 2; }));
    std::atomic<int> started{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> pages;
    for (int i = 0; i < 2; ++i)
        pages.emplace_back([&] {
            ++ready;
            while (ready < 2)
                std::this_thread::yield();
            started += m_manager->downloadPackages() == 0;
        });
    for (auto& p : pages)
        p.join();
    EXPECT_EQ(1, started.load());
    const int progressBefore = reports().progress;
    ASSERT_TRUE(until([&](const Reports& r) { return r.progress > progressBefore; }));
    EXPECT_EQ(0, m_manager->stopDownload());
    ASSERT_TRUE(until([](const Reports& r) { return r.results.size() == 2; }));
    EXPECT_FALSE(reports().results[1]);
    EXPECT_FALSE(m_manager->isDownloaded());
    EXPECT_EQ(1u, m_manager->packageInfoList().count(PACKAGE_SOFTWARE));

    done = true;
    page.join();
    EXPECT_GT(reads.load(), 0);
}
