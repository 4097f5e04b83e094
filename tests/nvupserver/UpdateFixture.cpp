#include "UpdateFixture.h"

#include "nvupserver/Md5.h"
#include "support/TestSupport.h"
#include "support/UpdateAnswers.h"

#include <stdlib.h>

using namespace nvupserver;

void UpdateFixture::SetUp()
{
    std::string pattern = testsupport::scratchRoot() + "/update.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    testsupport::makeDirs(m_dir + "/ca");
    m_client.reset(new UpdateServer(10, false));
    m_client->setErrorCallback([this](int code, const std::string& message) { m_errors.emplace_back(code, message); });
}

testsupport::HttpsTestServer& UpdateFixture::addServer(bool impostor, const std::string& address)
{
    const std::string dir = m_dir + "/server" + std::to_string(m_servers.size());
    testsupport::makeDirs(dir);
    m_servers.emplace_back(new testsupport::HttpsTestServer(dir, m_dir + "/ca", impostor, address));
    testsupport::HttpsTestServer& added = *m_servers.back();
    EXPECT_TRUE(added.running()) << added.error();
    std::vector<std::string> urls;
    for (const auto& one : m_servers)
        urls.push_back(one->baseUrl());
    m_client->setServers(urls);
    m_client->setCaFile(added.caFile());
    return added;
}

ClientInfo UpdateFixture::client()
{
    ClientInfo info;
    info.sn = "SN0001";
    info.vid = "V1";
    info.pid = "P2";
    info.name = "printer";
    info.oemName = "oem";
    info.hardwareVersion = {PACKAGE_KERNEL, 1, 2, 3, 0};
    info.packageVersions = {{PACKAGE_CONTROL, 1, 0, 4, 86400}, {PACKAGE_SOFTWARE, 2, 1, 5, 1700000000}};
    return info;
}

Json::Value UpdateFixture::offer(const std::vector<std::pair<int, std::string>>& packages, const std::string& md5)
{
    return testsupport::checkAnswer(packages, md5, "abc123");
}

DownloadInfo UpdateFixture::softwareDownload(const std::string& url, const std::string& path, const std::string& md5)
{
    DownloadInfo download;
    download.vid = "V1";
    download.pid = "P2";
    download.sessionId = "abc123";
    PackageInfo package;
    package.type = PACKAGE_SOFTWARE;
    package.version = "2.2.0";
    package.url = url;
    package.path = path;
    package.md5 = md5;
    download.packages.push_back(package);
    return download;
}

std::string UpdateFixture::text(const Json::Value& value)
{
    return testsupport::compactJson(value);
}

Json::Value UpdateFixture::parse(const std::string& text)
{
    Json::Value value;
    std::string why;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &why)) << why << ": " << text;
    return value;
}

std::vector<Json::Value> UpdateFixture::requests(size_t index)
{
    std::vector<Json::Value> parsed;
    for (const std::string& line : server(index).requests())
        parsed.push_back(parse(line));
    return parsed;
}

std::string UpdateFixture::makePackage(const std::string& name, size_t size, std::string& md5Out)
{
    std::string content(size, '\0');
    unsigned state = 12345;
    for (char& c : content) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    const std::string path = m_dir + "/" + name;
    testsupport::writeFile(path, content);
    EXPECT_TRUE(fileMd5Hex(path, md5Out));
    return path;
}

void UpdateFixture::setRoutes(size_t index, const Json::Value& check, const Json::Value& extra)
{
    Json::Value routes = extra;
    routes["/update"]["body"] = text(check);
    Json::Value ok(Json::objectValue);
    ok["ErrorCode"] = 200;
    ok["Message"] = "ok";
    routes["/download/feedback"]["body"] = text(ok);
    server(index).setRoutes(text(routes));
}
