#pragma once

// A client that downloads one package from an HTTPS test server.
#include "UpdateFixture.h"

#include "support/TestSupport.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

const size_t kSize = 300 * 1024;

// Collects what the download thread reports.
struct Reports
{
    std::mutex lock;
    std::vector<std::pair<double, double>> progress;
    std::vector<std::pair<int, std::string>> results;

    nvupserver::ProgressCallback progressCallback()
    {
        return [this](nvupserver::PackageType, double total, double now) {
            std::lock_guard<std::mutex> guard(lock);
            progress.emplace_back(total, now);
        };
    }
    nvupserver::DownloadResultCallback resultCallback()
    {
        return [this](int result, const std::string& message) {
            std::lock_guard<std::mutex> guard(lock);
            results.emplace_back(result, message);
        };
    }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return results.size();
    }
    size_t progressCount()
    {
        std::lock_guard<std::mutex> guard(lock);
        return progress.size();
    }
};

class DownloadTest : public UpdateFixture
{
protected:
    void SetUp() override
    {
        UpdateFixture::SetUp();
        addServer();
        m_source = makePackage("source.bin", kSize, m_md5);
        m_target = m_dir + "/pkg.bin";
    }

    // Routes the package with the given behaviour and makes the client check
    // first, so that feedback has a server to go to.
    void serve(Json::Value behaviour)
    {
        behaviour["file"] = m_source;
        Json::Value extra(Json::objectValue);
        extra["/p/pkg.bin"] = behaviour;
        setRoutes(0, offer({{3, url()}}, m_md5), extra);
        nvupserver::PackageUpdateInfo answer;
        ASSERT_EQ(m_client->checkUpdateSync(answer, client()), 0);
    }

    std::string url() { return server().baseUrl() + "/p/pkg.bin"; }

    nvupserver::DownloadInfo info(const std::string& md5 = std::string())
    {
        return softwareDownload(url(), m_target, md5.empty() ? m_md5 : md5);
    }

    std::vector<Json::Value> packageRequests()
    {
        std::vector<Json::Value> found;
        for (const Json::Value& request : requests())
            if (request["path"] == "/p/pkg.bin")
                found.push_back(request);
        return found;
    }

    Json::Value lastFeedback()
    {
        const std::vector<Json::Value> all = requests();
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if ((*it)["path"] == "/download/feedback")
                return parse((*it)["body"].asString());
        return Json::Value();
    }

    // A download on its thread whose server has gone silent after some bytes.
    void startStalledDownload()
    {
        Json::Value stall(Json::objectValue);
        stall["stall_after"] = 50000;
        serve(stall);
        ASSERT_EQ(m_client->download(info(), m_reports.resultCallback(), m_reports.progressCallback()), 0);
        ASSERT_TRUE(testsupport::eventually([&] { return m_reports.progressCount() > 0; }, 10000));
    }

    void expectNoFiles()
    {
        EXPECT_FALSE(testsupport::fileExists(m_target));
        EXPECT_FALSE(testsupport::fileExists(m_target + ".part"));
    }

    std::string m_source;
    std::string m_md5;
    std::string m_target;
    Reports m_reports;
};
