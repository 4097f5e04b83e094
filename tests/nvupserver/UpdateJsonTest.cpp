#include "nvupserver/PackageUrl.h"
#include "nvupserver/UpdateJson.h"

#include <gtest/gtest.h>

#include <json/json.h>

#include <cstdlib>
#include <sstream>

using namespace nvupserver;

namespace {

const char kMd5[] = "0123456789abcdef0123456789ABCDEF";

std::string package(const std::string& fields)
{
    return "{" + fields + "}";
}

std::string fullPackage(const std::string& url)
{
    return package("\"Version\":\"1.2.3\",\"BuildTime\":\"2026-01-02 03:04:05\",\"MD5\":\"" + std::string(kMd5)
                   + "\",\"URL\":\"" + url + "\"");
}

} // namespace

TEST(CheckAnswer, EveryPackageTypeParsesInTypeOrder)
{
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string text = "{\"ErrorCode\":200,\"Message\":\"ok\",\"SessionID\":\"s1\","
                             "\"SoftwarePackage\":" + fullPackage("https://h/s.tar.xz") + ","
                             "\"KernelPackage\":" + fullPackage("https://h/k.tar.xz") + ","
                             "\"LibraryPackage\":" + fullPackage("https://h/l.tar.xz") + ","
                             "\"ControlPackage\":" + fullPackage("https://h/c.tar.xz") + "}";
    CheckAnswer answer;
    std::string why;
    ASSERT_TRUE(parseCheckAnswer(text, answer, why)) << why;
    EXPECT_EQ(answer.errorCode, 200);
    EXPECT_EQ(answer.sessionId, "s1");
    ASSERT_EQ(answer.packages.size(), 4u);
    for (int type = 0; type < 4; ++type)
        EXPECT_EQ(answer.packages[type].type, type);
    EXPECT_EQ(answer.packages[0].url, "https://h/k.tar.xz");
    EXPECT_EQ(answer.packages[3].md5, kMd5);
    EXPECT_EQ(answer.packages[0].buildTime, 1767323045);
}

TEST(CheckAnswer, IncompletePackagesAreLeftOut)
{
    const std::string noMd5 = package("\"Version\":\"1\",\"BuildTime\":\"2026-01-02 03:04:05\",\"URL\":\"https://h/k\"");
    const std::string shortMd5 = package(
        "\"Version\":\"1\",\"BuildTime\":\"2026-01-02 03:04:05\",\"MD5\":\"abc\",\"URL\":\"https://h/c\"");
    const std::string badTime = package("\"Version\":\"1\",\"BuildTime\":\"yesterday\",\"MD5\":\"" + std::string(kMd5)
                                        + "\",\"URL\":\"https://h/l\"");
    const std::string text = "{\"ErrorCode\":200,\"KernelPackage\":" + noMd5 + ",\"ControlPackage\":" + shortMd5
        + ",\"LibraryPackage\":" + badTime + ",\"SoftwarePackage\":" + fullPackage("https://h/s") + "}";
    CheckAnswer answer;
    std::string why;
    ASSERT_TRUE(parseCheckAnswer(text, answer, why)) << why;
    ASSERT_EQ(answer.packages.size(), 1u);
    EXPECT_EQ(answer.packages[0].type, PACKAGE_SOFTWARE);

    ASSERT_TRUE(parseCheckAnswer("{\"ErrorCode\":204}", answer, why));
    EXPECT_TRUE(answer.packages.empty());
}

TEST(CheckAnswer, MalformedAnswersAreRefusedNotThrown)
{
    const char* const bad[] = {
        "",
        "<html>502</html>",
        "[1,2]",
        "\"text\"",
        "{\"Message\":\"no code\"}",
        "{\"ErrorCode\":\"200\"}",
        "{\"ErrorCode\":200.5}",
        "{\"ErrorCode\":1e40}",
        "{\"ErrorCode\":200,\"Message\":7}",
        "{\"ErrorCode\":200,\"SessionID\":[]}",
        "{\"ErrorCode\":200,\"KernelPackage\":\"x\"}",
        "{\"ErrorCode\":200,\"KernelPackage\":{\"Version\":1,\"BuildTime\":\"2026-01-02 03:04:05\"}}",
    };
    for (const char* text : bad) {
        CheckAnswer answer;
        std::string why;
        EXPECT_FALSE(parseCheckAnswer(text, answer, why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
    CheckAnswer answer;
    std::string why;
    EXPECT_FALSE(parseCheckAnswer(std::string(100000, '[') + std::string(100000, ']'), answer, why));
}

TEST(CheckAnswer, ErrorCodeOutsideSuccessKeepsMessage)
{
    CheckAnswer answer;
    std::string why;
    ASSERT_TRUE(parseCheckAnswer("{\"ErrorCode\":403,\"Message\":\"denied\",\"KernelPackage\":"
                                     + fullPackage("https://h/k") + "}",
                                 answer, why));
    EXPECT_EQ(answer.errorCode, 403);
    EXPECT_EQ(answer.message, "denied");
    EXPECT_TRUE(answer.packages.empty());
}

TEST(FeedbackBody, CarriesTheClientEntryOfTheSameType)
{
    ClientInfo client;
    client.sn = "SN";
    client.name = "n";
    client.oemName = "o";
    client.hardwareVersion = {PACKAGE_KERNEL, 3, 2, 1, 0};
    client.packageVersions = {{PACKAGE_SOFTWARE, 2, 1, 5, 0}};
    FeedbackFields fields;
    fields.vid = "V";
    fields.pid = "P";
    fields.type = PACKAGE_SOFTWARE;
    fields.version = "2.2.0";
    fields.result = 1;
    Json::Value body;
    std::istringstream(feedbackBody(fields, client)) >> body;
    EXPECT_EQ(body["ClientVersion"], "2.1.5");
    EXPECT_EQ(body["ClientBuildTime"], "1970-01-01 00:00:00");
    EXPECT_EQ(body["ClientHardware"], "3.2.1");
    EXPECT_EQ(body["Result"], 1);
    EXPECT_EQ(body["Type"], 3);

    fields.type = PACKAGE_KERNEL;
    std::istringstream(feedbackBody(fields, client)) >> body;
    EXPECT_FALSE(body.isMember("ClientVersion"));
    EXPECT_FALSE(body.isMember("ClientBuildTime"));
}

TEST(PackageUrl, FileNameIsTheLastComponentAndMustBeSafe)
{
    EXPECT_EQ(packageFileName("https://h:1/a/b/pkg-3.tar.xz?token=1/2#frag"), "pkg-3.tar.xz");
    EXPECT_EQ(packageFileName("HTTPS://h/x.bin"), "x.bin");
    EXPECT_EQ(packageFileName("https://h/a/..%2F..%2Fetc"), "..%2F..%2Fetc");
    const char* const refused[] = {"http://h/x.bin", "ftp://h/x", "https://h", "https://h/", "https://h/a/.",
                                   "https://h/a/..", "https://h/a/..?x", "https://h/a\\b", "https:///x",
                                   "https://h/a%00/\x01x", "file:///etc/passwd"};
    for (const char* url : refused)
        EXPECT_EQ(packageFileName(url), "") << url;
}

TEST(PackageUrl, PackagesWhoseUrlsEndAlikeGetFilesOfTheirOwn)
{
    auto item = [](PackageType type, const std::string& url) {
        PackageUpdateItem one;
        one.type = type;
        one.url = url;
        return one;
    };
    // The kernel's URL names a file the software package would also take.
    const PackageInfoList offer = {item(PACKAGE_KERNEL, "https://h/k/software-update.bin"),
                                   item(PACKAGE_CONTROL, "https://h/c/update.bin"),
                                   item(PACKAGE_LIBRARY, "https://h/l/.."),
                                   item(PACKAGE_SOFTWARE, "https://h/s/update.bin"),
                                   item(PACKAGE_SOFTWARE, "https://h/t/update.bin")};
    EXPECT_EQ(packageFileNames(offer), (std::vector<std::string>{"software-update.bin", "update.bin", "",
                                                                 "software2-update.bin", "software3-update.bin"}));
}
