#include "UpdateFixture.h"

#include "nvupserver/Http.h"

using namespace nvupserver;

TEST_F(UpdateFixture, GetAndPutAnswerFromTheVerifiedPeer)
{
    addServer();
    server().setRoutes("{\"/info\":{\"status\":201,\"body\":\"hello\"}}");
    HttpOptions options;
    options.caFile = server().caFile();
    options.cookie = "SessionID=s";
    options.headers = {"X-Test: 1", ""};
    HttpResult result;
    ASSERT_EQ(httpGet(server().baseUrl() + "/info", options, result), 0) << result.message;
    EXPECT_EQ(result.code, 201);
    EXPECT_EQ(result.message, "hello");

    options.put = true;
    ProgressState state;
    ASSERT_EQ(httpPost(state, server().baseUrl() + "/info", "{\"a\":1}", options, result), 0) << result.message;
    const std::vector<Json::Value> sent = requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]["method"], "GET");
    EXPECT_EQ(sent[0]["cookie"], "SessionID=s");
    EXPECT_EQ(sent[1]["method"], "PUT");
    EXPECT_EQ(sent[1]["body"], "{\"a\":1}");

    // Without the authority the peer is not trusted.
    options.caFile = m_dir + "/ca/missing.pem";
    EXPECT_EQ(httpGet(server().baseUrl() + "/info", options, result), -1);
    EXPECT_FALSE(result.message.empty());
    options.caFile = server().caFile();
    options.cookie = "SessionID=s\nX-Evil: 1";
    EXPECT_EQ(httpGet(server().baseUrl() + "/info", options, result), -1);
    EXPECT_EQ(requests().size(), 2u);
}
