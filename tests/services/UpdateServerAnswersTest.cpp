// Update-server answers of unusual form, end to end against an HTTPS test
// server: a message whose line breaks would forge log lines, and a package
// digest written in upper case.
#include "SystemManagerFixture.h"

#include "base/config/PathManager.h"
#include "base/files/Utils.h"
#include "nvupserver/Md5.h"
#include "support/HttpsTestServer.h"
#include "support/Sanitizers.h"
#include "support/TestSupport.h"
#include "support/UpdateAnswers.h"

#include <json/json.h>

#include <algorithm>
#include <cctype>

using namespace nvupserver;

using testsupport::compactJson;

namespace {

class UpdateServerAnswers : public SystemManagerTest
{
protected:
    void SetUp() override
    {
        if (testsupport::kThreadSanitizer)
            GTEST_SKIP() << "Qt's cross-thread event queue is not instrumented: ThreadSanitizer cannot see its locking";
        SystemManagerTest::SetUp();
        const std::string dir = testsupport::scratchRoot() + "/update";
        testsupport::makeDirs(dir + "/server");
        testsupport::makeDirs(dir + "/ca");
        m_server.reset(new testsupport::HttpsTestServer(dir + "/server", dir + "/ca"));
        ASSERT_TRUE(m_server->running()) << m_server->error();
        m_manager = start();
        m_manager->updateServer().setServers({m_server->baseUrl()});
        m_manager->updateServer().setCaFile(m_server->caFile());

        QObject* gui = m_app.get();
        QObject::connect(m_manager, &SystemManager::sig_downloadErr, gui,
                         [this](int code, std::string msg) { m_errors.emplace_back(code, msg); });
        QObject::connect(m_manager, &SystemManager::sig_downloadedRet, gui,
                         [this](bool ok) { m_results.push_back(ok); });

        m_package = dir + "/software.bin";
        testsupport::writeFile(m_package, std::string(20000, 'p') + "the end");
        ASSERT_TRUE(fileMd5Hex(m_package, m_md5));
        m_routes["/download/feedback"]["body"] = "{\"ErrorCode\":200,\"Message\":\"ok\"}";
        m_routes["/pkg/software.bin"]["file"] = m_package;
    }

    void answerCheck(const Json::Value& answer)
    {
        m_routes["/update"]["body"] = compactJson(answer);
        m_server->setRoutes(compactJson(m_routes));
    }

    std::unique_ptr<testsupport::HttpsTestServer> m_server;
    SystemManager* m_manager = nullptr;
    Json::Value m_routes{Json::objectValue};
    std::string m_package;
    std::string m_md5;
    std::vector<std::pair<int, std::string>> m_errors;
    std::vector<bool> m_results;
};

} // namespace

TEST_F(UpdateServerAnswers, AMessageWithALineBreakStaysOneLogLine)
{
    const std::string forged = "[2024-1-1 00:00:00.000000][ERRO] [0000]forged by the server";
    Json::Value refusal(Json::objectValue);
    refusal["ErrorCode"] = 503;
    refusal["Message"] = "busy\n" + forged + "\r\n";
    answerCheck(refusal);

    ASSERT_TRUE(m_manager->checkUpdate(false));
    ASSERT_TRUE(processEventsUntil([&] { return !m_errors.empty(); }));
    // The check has also handed over its answer: its thread is done with the
    // network before the process exits.
    ASSERT_TRUE(processEventsUntil([&] { return logText().find("updated package: result(503") != std::string::npos; }));
    // The caller still gets the server's words as they were.
    EXPECT_EQ(std::make_pair(503, "busy\n" + forged + "\r\n"), m_errors[0]);

    const std::string log = logText();
    EXPECT_NE(log.find("busy\\n" + forged + "\\r"), std::string::npos) << log;
    for (const std::string& line : testsupport::splitLines(log))
        EXPECT_NE(0u, line.rfind("[2024-1-1 00:00:00", 0)) << "a forged line: " << line;
}

TEST_F(UpdateServerAnswers, APackageDigestInUpperCaseIsTheSameDigest)
{
    std::string upper = m_md5;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    ASSERT_NE(upper, m_md5);
    answerCheck(testsupport::checkAnswer({{3, m_server->baseUrl() + "/pkg/software.bin"}}, upper, "session-2"));

    ASSERT_TRUE(m_manager->checkUpdate(true));
    ASSERT_TRUE(processEventsUntil([&] { return !m_results.empty(); }));
    EXPECT_EQ(std::vector<bool>{true}, m_results);
    EXPECT_TRUE(m_errors.empty()) << m_errors[0].second;
    const QString package = Utils::joinPath(PathManager::instance()->get(PATH_PACKAGE), "software.bin");
    EXPECT_EQ(testsupport::readFile(m_package), testsupport::readFile(Utils::fsPath(package)));
}
