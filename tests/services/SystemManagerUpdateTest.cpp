// Update operations end to end against an HTTPS test server: the client's
// reports reach the GUI thread as queued signals.
#include "SystemManagerFixture.h"

#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "nvupserver/Md5.h"
#include "support/HttpsTestServer.h"
#include "support/Sanitizers.h"
#include "support/TestSupport.h"
#include "support/UpdateAnswers.h"

#include <json/json.h>

#include <QThread>

using namespace nvupserver;

using testsupport::compactJson;

class UpdateOperationsTest : public SystemManagerTest
{
protected:
    void SetUp() override
    {
        if (testsupport::kThreadSanitizer)
            GTEST_SKIP() << "Qt's cross-thread event queue is not instrumented: ThreadSanitizer cannot see its locking";
        SystemManagerTest::SetUp();
        m_dir = testsupport::scratchRoot() + "/update";
        ASSERT_NO_FATAL_FAILURE(startWithUpdateServer(m_dir, m_server, m_manager));
        record();

        // A package of 300 kB for the software.
        std::string content(300000, '\0');
        for (size_t i = 0; i < content.size(); ++i)
            content[i] = char(i * 7 + i / 1000);
        m_package = m_dir + "/software.bin";
        testsupport::writeFile(m_package, content);
        ASSERT_TRUE(fileMd5Hex(m_package, m_md5));
        m_routes["/download/feedback"]["body"] = "{\"ErrorCode\":200,\"Message\":\"ok\"}";
        m_routes["/pkg/software.bin"]["file"] = m_package;
        m_routes["/pkg/kernel.bin"]["file"] = m_package;
    }

    // The check answers with these packages (type -> file name under /pkg/).
    void offer(const std::vector<std::pair<int, std::string>>& packages)
    {
        std::vector<std::pair<int, std::string>> urls;
        for (const auto& [type, name] : packages)
            urls.emplace_back(type, m_server->baseUrl() + "/pkg/" + name);
        m_routes["/update"]["body"] = compactJson(testsupport::checkAnswer(urls, m_md5, "session-secret-1"));
        m_server->setRoutes(compactJson(m_routes));
    }

    // Every signal, as the GUI thread receives it.
    void record()
    {
        QObject* gui = m_app.get();
        auto note = [this] { m_otherThread |= QThread::currentThread() != m_app->thread(); };
        QObject::connect(m_manager, &SystemManager::sig_checkUpdate, gui, [=](bool offered) {
            note();
            m_checks.push_back(offered);
        });
        QObject::connect(m_manager, &SystemManager::sig_downloadedRet, gui, [=](bool ok) {
            note();
            m_results.push_back(ok);
        });
        QObject::connect(m_manager, &SystemManager::sig_downloadedMsg, gui, [=](QString text) {
            note();
            m_messages << text;
        });
        QObject::connect(m_manager, &SystemManager::sig_downloadErr, gui, [=](int code, std::string msg) {
            note();
            m_errors.emplace_back(code, msg);
        });
        QObject::connect(m_manager, &SystemManager::sig_downloadProgress, gui,
                         [=](PackageType type, double total, double now) {
                             note();
                             m_progress.push_back({double(type), total, now});
                         });
    }

    std::string packageFile(const std::string& name) const
    {
        return Utils::fsPath(Utils::joinPath(PathManager::instance()->get(PATH_PACKAGE), QString::fromStdString(name)));
    }

    // Asks for the next check until one starts: the last check's thread is
    // still alive while its answer comes in, and a check asked for meanwhile
    // is refused.
    bool checkAgain(bool autoDownload)
    {
        return processEventsUntil([&] {
            if (m_manager->checkUpdate(autoDownload))
                return true;
            QThread::msleep(5);
            return false;
        });
    }

    int checkRequests() const
    {
        int count = 0;
        for (const std::string& line : m_server->requests())
            count += line.find("\"/pkg/") == std::string::npos;
        return count;
    }

    int packageRequests() const
    {
        int count = 0;
        for (const std::string& line : m_server->requests())
            count += line.find("\"/pkg/") != std::string::npos;
        return count;
    }

    std::string m_dir;
    std::unique_ptr<testsupport::HttpsTestServer> m_server;
    SystemManager* m_manager = nullptr;
    std::string m_package;
    std::string m_md5;
    Json::Value m_routes{Json::objectValue};

    bool m_otherThread = false;
    std::vector<bool> m_checks;
    std::vector<bool> m_results;
    QStringList m_messages;
    std::vector<std::pair<int, std::string>> m_errors;
    std::vector<std::vector<double>> m_progress;
};

TEST_F(UpdateOperationsTest, CheckOfferingNothingKeepsTheLastOffer)
{
    offer({{3, "software.bin"}});
    ASSERT_TRUE(m_manager->checkUpdate(false));
    ASSERT_TRUE(processEventsUntil([&] { return m_checks.size() == 1; }));

    offer({});
    ASSERT_TRUE(checkAgain(false));
    ASSERT_TRUE(processEventsUntil([&] { return m_checks.size() == 2; }));
    EXPECT_EQ((std::vector<bool>{true, false}), m_checks);
    EXPECT_EQ(0, m_manager->updatePackageCount());
    const PackageUpdateInfo kept = m_manager->serverVersionInfo();
    ASSERT_EQ(1u, kept.packages.size());
    EXPECT_EQ(PACKAGE_SOFTWARE, kept.packages[0].type);
    EXPECT_TRUE(m_manager->packageInfoList().empty());
    EXPECT_EQ(0, packageRequests());
    EXPECT_FALSE(m_otherThread);

    // The identity the service was told comes from the serial settings.
    const std::vector<std::string> requests = m_server->requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests[0].find("TS-100-0042"), std::string::npos) << requests[0];
}

TEST_F(UpdateOperationsTest, AutomaticDownloadOfTheSoftwarePackage)
{
    offer({{3, "software.bin"}});
    ASSERT_TRUE(m_manager->checkUpdate(true));
    // The check reports after it has started the download, on its own
    // thread: the download's reports may come first.
    ASSERT_TRUE(processEventsUntil([&] { return !m_messages.isEmpty() && !m_checks.empty(); }));
    EXPECT_EQ(QStringList{"3,"}, m_messages);
    EXPECT_EQ(std::vector<bool>{true}, m_results);
    EXPECT_EQ(std::vector<bool>{true}, m_checks);
    EXPECT_TRUE(m_errors.empty());
    EXPECT_TRUE(m_manager->isDownloaded());
    EXPECT_EQ(testsupport::readFile(m_package), testsupport::readFile(packageFile("software.bin")));

    const SystemManager::PackageMap list = m_manager->packageInfoList();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ("/data/TalvikS-package/software.bin", list.at(PACKAGE_SOFTWARE).path);
    EXPECT_EQ("9.9.3", list.at(PACKAGE_SOFTWARE).version);

    ASSERT_FALSE(m_progress.empty());
    EXPECT_EQ(3, m_progress.back()[0]);
    EXPECT_EQ(300000, m_progress.back()[1]);
    EXPECT_EQ(300000, m_progress.back()[2]);
    EXPECT_FALSE(m_otherThread);

    const std::string log = logText();
    EXPECT_NE(log.find("Auto Download"), std::string::npos);
    EXPECT_EQ(log.find("session-secret-1"), std::string::npos);
}

TEST_F(UpdateOperationsTest, CheckWithoutAutomaticDownload)
{
    offer({{3, "software.bin"}});
    ASSERT_TRUE(m_manager->checkUpdate(false));
    ASSERT_TRUE(processEventsUntil([&] { return m_checks.size() == 1; }));
    EXPECT_TRUE(m_checks[0]);
    EXPECT_EQ(1, m_manager->updatePackageCount());
    EXPECT_EQ("session-secret-1", m_manager->serverVersionInfo().sessionId);
    EXPECT_TRUE(m_manager->packageInfoList().empty());
    EXPECT_FALSE(m_manager->isDownloaded());
    QThread::msleep(200);
    EXPECT_EQ(0, packageRequests());

    // The update page starts it; no installation offer follows.
    ASSERT_EQ(0, m_manager->downloadPackages());
    ASSERT_TRUE(processEventsUntil([&] { return m_results.size() == 1; }));
    EXPECT_TRUE(m_results[0]);
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_TRUE(testsupport::fileExists(packageFile("software.bin")));
}

TEST_F(UpdateOperationsTest, DownloadWithoutAnOfferEndsAsAFailure)
{
    ASSERT_EQ(0, m_manager->downloadPackages());
    ASSERT_TRUE(processEventsUntil([&] { return m_results.size() == 1; }));
    EXPECT_FALSE(m_results[0]);
    EXPECT_FALSE(m_manager->isDownloaded());
    EXPECT_TRUE(m_manager->packageInfoList().empty());
}

TEST_F(UpdateOperationsTest, StopDuringADownload)
{
    m_routes["/pkg/software.bin"]["stall_after"] = 100000;
    offer({{3, "software.bin"}});
    ASSERT_TRUE(m_manager->checkUpdate(false));
    ASSERT_TRUE(processEventsUntil([&] { return m_checks.size() == 1; }));
    ASSERT_EQ(0, m_manager->downloadPackages());
    ASSERT_TRUE(processEventsUntil([&] { return !m_progress.empty(); }));

    // A second download while this one runs is refused and changes nothing.
    offer({{0, "kernel.bin"}});
    ASSERT_TRUE(checkAgain(false));
    ASSERT_TRUE(processEventsUntil([&] { return m_checks.size() == 2; }));
    EXPECT_EQ(-1, m_manager->downloadPackages());
    EXPECT_EQ(1u, m_manager->packageInfoList().count(PACKAGE_SOFTWARE));
    EXPECT_EQ(0u, m_manager->packageInfoList().count(PACKAGE_KERNEL));

    EXPECT_EQ(0, m_manager->stopDownload());
    ASSERT_TRUE(processEventsUntil([&] { return m_results.size() == 1; }));
    EXPECT_FALSE(m_results[0]);
    EXPECT_FALSE(m_manager->isDownloaded());
    EXPECT_FALSE(testsupport::fileExists(packageFile("software.bin")));
    EXPECT_FALSE(testsupport::fileExists(packageFile("software.bin") + ".part"));
    EXPECT_FALSE(m_otherThread);
}

TEST_F(UpdateOperationsTest, FinishedDownloadNamesItsOwnPackages)
{
    // The software package is held after 100 kB until the test lets it go.
    const std::string release = m_dir + "/release";
    m_routes["/pkg/software.bin"]["stall_after"] = 100000;
    m_routes["/pkg/software.bin"]["resume_when"] = release;
    offer({{3, "software.bin"}});
    ASSERT_TRUE(m_manager->checkUpdate(true));
    ASSERT_TRUE(processEventsUntil([&] { return !m_progress.empty(); }));
    // A later check offers more while the download runs; its automatic
    // download is refused, and the finished one still reports only its own.
    offer({{0, "kernel.bin"}, {3, "software.bin"}});
    ASSERT_TRUE(checkAgain(true));
    ASSERT_TRUE(processEventsUntil([&] { return m_checks.size() == 2; }));
    EXPECT_EQ(0u, m_manager->packageInfoList().count(PACKAGE_KERNEL));
    testsupport::writeFile(release, "");
    ASSERT_TRUE(processEventsUntil([&] { return !m_messages.isEmpty(); }));
    EXPECT_EQ(std::vector<bool>{true}, m_results);
    EXPECT_EQ(QStringList{"3,"}, m_messages);
    EXPECT_EQ(2u, m_manager->serverVersionInfo().packages.size());
    EXPECT_EQ(1, packageRequests());
}

TEST_F(UpdateOperationsTest, CheckAskedForWhileOneRunsIsRefusedAndChangesNothing)
{
    m_routes["/update"]["delay_ms"] = 1000;
    offer({{3, "software.bin"}});
    ASSERT_TRUE(m_manager->checkUpdate(false));
    EXPECT_FALSE(m_manager->checkUpdate(true)) << "a check that starts nothing was reported as started";
    ASSERT_TRUE(processEventsUntil([&] { return m_checks.size() == 1; }));
    EXPECT_EQ(1, checkRequests());
    // The running check keeps its own choice: no automatic download.
    EXPECT_TRUE(m_manager->packageInfoList().empty());
    EXPECT_TRUE(m_results.empty());
}

TEST_F(UpdateOperationsTest, PackagesWhoseUrlsEndAlikeKeepFilesOfTheirOwn)
{
    const std::string kernel = m_dir + "/kernel-source.bin";
    testsupport::writeFile(kernel, std::string(200000, 'k'));
    std::string kernelMd5;
    ASSERT_TRUE(fileMd5Hex(kernel, kernelMd5));
    m_routes["/pkg/k/update.bin"]["file"] = kernel;
    m_routes["/pkg/s/update.bin"]["file"] = m_package;
    Json::Value answer = testsupport::checkAnswer(
        {{0, m_server->baseUrl() + "/pkg/k/update.bin"}, {3, m_server->baseUrl() + "/pkg/s/update.bin"}}, m_md5,
        "session-secret-1");
    answer["KernelPackage"]["MD5"] = kernelMd5;
    m_routes["/update"]["body"] = compactJson(answer);
    m_server->setRoutes(compactJson(m_routes));

    ASSERT_TRUE(m_manager->checkUpdate(true));
    ASSERT_TRUE(processEventsUntil([&] { return !m_results.empty(); }));
    ASSERT_EQ(std::vector<bool>{true}, m_results);
    ASSERT_TRUE(processEventsUntil([&] { return !m_messages.isEmpty(); }));
    EXPECT_EQ(QStringList{"0,3,"}, m_messages);
    const SystemManager::PackageMap list = m_manager->packageInfoList();
    ASSERT_EQ(2u, list.size());
    const QString kernelPath = QString::fromStdString(list.at(PACKAGE_KERNEL).path);
    const QString softwarePath = QString::fromStdString(list.at(PACKAGE_SOFTWARE).path);
    EXPECT_NE(kernelPath, softwarePath) << "the installer would install one file as both packages";
    EXPECT_EQ(testsupport::readFile(kernel), testsupport::readFile(Utils::fsPath(kernelPath)));
    EXPECT_EQ(testsupport::readFile(m_package), testsupport::readFile(Utils::fsPath(softwarePath)));
}

TEST_F(UpdateOperationsTest, UnsafePackageNameIsADownloadError)
{
    offer({{3, ".."}});
    ASSERT_TRUE(m_manager->checkUpdate(true));
    ASSERT_TRUE(processEventsUntil([&] { return m_results.size() == 1; }));
    EXPECT_FALSE(m_results[0]);
    ASSERT_FALSE(m_errors.empty());
    EXPECT_EQ(-1, m_errors[0].first);
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_FALSE(m_manager->isDownloaded());
    EXPECT_EQ(0, packageRequests());
    EXPECT_EQ(0, testsupport::entriesIn(Utils::fsPath(PathManager::instance()->get(PATH_PACKAGE))));
}
