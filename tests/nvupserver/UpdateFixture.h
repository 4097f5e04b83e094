#pragma once

#include "nvupserver/UpdateServer.h"
#include "support/HttpsTestServer.h"

#include <json/json.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// A client pointed at HTTPS test servers that trust one authority made for the test.
class UpdateFixture : public ::testing::Test
{
protected:
    void SetUp() override;

    // Starts one more server; its base URL joins the client's list.
    testsupport::HttpsTestServer& addServer(bool impostor = false, const std::string& address = "127.0.0.1");
    testsupport::HttpsTestServer& server(size_t index = 0) { return *m_servers.at(index); }

    // A machine with the control and software packages installed.
    static nvupserver::ClientInfo client();
    // A check answer offering the given packages (type -> URL) with ErrorCode 200.
    static Json::Value offer(const std::vector<std::pair<int, std::string>>& packages, const std::string& md5);
    // A download of one software package for the machine of client(), session "abc123".
    static nvupserver::DownloadInfo softwareDownload(const std::string& url, const std::string& path,
                                                     const std::string& md5);
    static std::string text(const Json::Value& value);
    static Json::Value parse(const std::string& text);
    // The requests a server received, parsed.
    std::vector<Json::Value> requests(size_t index = 0);

    // A package file of `size` bytes in the scratch folder; its MD5 in md5Out.
    std::string makePackage(const std::string& name, size_t size, std::string& md5Out);
    // Routes: "/update" answers `check`, "/download/feedback" succeeds, and `extra` is merged in.
    void setRoutes(size_t index, const Json::Value& check, const Json::Value& extra = Json::Value(Json::objectValue));

    // The client goes first: its threads may still report errors and talk to the servers.
    std::string m_dir;
    std::vector<std::unique_ptr<testsupport::HttpsTestServer>> m_servers;
    std::vector<std::pair<int, std::string>> m_errors;
    std::unique_ptr<nvupserver::UpdateServer> m_client;
};
