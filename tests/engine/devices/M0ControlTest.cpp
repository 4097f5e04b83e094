#include "base/log/LogWriter.h"
#include "base/log/RootPath.h"
#include "base/platform/Platform.h"
#include "board/MicrocontrollerPeer.h"
#include "board/ScaledClock.h"
#include "engine/devices/M0Control.h"
#include "engine/devices/M0Reply.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Pieces = std::vector<std::string>;

// The microcontroller on a pty; ten machine seconds a real one. A reply still
// has its whole time-out in real time to come, however busy the host.
class M0Link : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::makeDirs(rootPath("/data/var"));
        LogWriter::instance()->init("/data/var", "TalvikS", 0, 1 << 20, 2, false);
        ASSERT_EQ(0, m0.connect());
    }

    std::string lastLine() const
    {
        const auto lines = peer.lines();
        return lines.empty() ? std::string() : lines.back();
    }

    sim::ScaledClock clock{10};
    ScopedPlatform installedClock{&clock};
    sim::MicrocontrollerPeer peer;
    M0Control m0{peer.path().c_str()};
};

} // namespace

TEST(M0Reply, FieldsAndPieces)
{
    std::string text;
    EXPECT_TRUE(m0Field("x<value>5,6<value>y", "<value>", &text));
    EXPECT_EQ("5,6", text);
    EXPECT_FALSE(m0Field("<value>5", "<value>", &text));
    EXPECT_FALSE(m0Field("5", "<value>", &text));
    EXPECT_EQ((Pieces{"5"}), m0Pieces("5,"));
    EXPECT_EQ((Pieces{"5", "", "6"}), m0Pieces("5,,6"));
    EXPECT_EQ((Pieces{}), m0Pieces(""));
    EXPECT_EQ((Pieces{""}), m0Pieces(","));
    EXPECT_EQ((Pieces{"a", "b", ""}), m0Pieces("a,b,,"));
}

TEST_F(M0Link, CommandLines)
{
    EXPECT_EQ(1, m0.setM113(""));
    EXPECT_EQ("M113 \r\n", lastLine());
    EXPECT_EQ(1, m0.setM113("5"));
    EXPECT_EQ("M113 [5]  \r\n", lastLine());
    EXPECT_EQ("5", peer.argument("M113"));
    for (auto set : {&M0Control::setM105, &M0Control::setM106, &M0Control::setM107, &M0Control::setM108,
                     &M0Control::setM111, &M0Control::setM112})
        EXPECT_EQ(1, (m0.*set)("12"));
    EXPECT_EQ(7u + 1u, peer.lines().size());
}

TEST_F(M0Link, SetAndGetRoundTrips)
{
    M0Config config;
    for (int i = 0; i < 12; ++i)
        config.value[i] = 100 + i;
    EXPECT_EQ(1, m0.writeConfig(config));
    EXPECT_EQ("1000,1,1,1,1,107,108,109,110,111", peer.argument("M201"));
    const M0Config* read = m0.getConfig();
    EXPECT_EQ((std::vector<int32_t>{1000, 1, 1, 1, 1, 0, 0, 107, 108, 109, 110, 111}),
              std::vector<int32_t>(read->value, read->value + 12));

    // Nine fields leave the record as it was.
    peer.setReply("M202", "<config>1,2,3,4,5,6,7,8,9<config>");
    EXPECT_EQ(read, m0.getConfig());
    EXPECT_EQ(107, read->value[7]);

    peer.setValues("M204", "42");
    EXPECT_EQ(42, m0.readM204());
    peer.setValues("M208", "5,");
    EXPECT_EQ(5, m0.readState());
    EXPECT_EQ(5, m0.state());
    peer.setValues("M208", "5,,6");
    EXPECT_EQ(-1, m0.readM208());

    int a = 0, b = 0;
    peer.setValues("M109", "3,4,5");
    EXPECT_EQ(3, m0.readM109(&a, &b));
    EXPECT_EQ(3, a);
    EXPECT_EQ(4, b);

    int v[4] = {};
    peer.setValues("M209", "1,2,3,4");
    EXPECT_EQ(0, m0.readM209(&v[0], &v[1], &v[2], &v[3]));
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), std::vector<int>(v, v + 4));
    EXPECT_EQ(1, m0.checkDuties());
    EXPECT_EQ(1, m0.state());
    peer.setValues("M209", "1,0,3,4");
    EXPECT_EQ(0, m0.checkDuties());
    EXPECT_EQ(-1, m0.state());
    peer.setValues("M209", "1,2,3");
    EXPECT_EQ(-1, m0.readM209(&v[0], &v[1], &v[2], &v[3]));

    peer.setReply("M204", "<UVS>77<UVS>");
    EXPECT_EQ(-1, m0.readM204());
    EXPECT_EQ(77, m0.lastUvsValue());

    peer.setVersion("M0 V2.0.1");
    std::string version;
    EXPECT_EQ(0, m0.getVersion(version));
    EXPECT_EQ("M0 V2.0.1", version);
    EXPECT_EQ("M230 \r\n", lastLine());
}

TEST_F(M0Link, RepliesWithoutTheirTagsFail)
{
    peer.setReply("M105", "ok");
    EXPECT_EQ(0, m0.setM105("1"));
    peer.setReply("M105", "<reply>ok,1<reply>");
    EXPECT_EQ(0, m0.setM105("1"));
    peer.setReply("M105", "<reply>error<reply>");
    EXPECT_EQ(0, m0.setM105("1"));
    peer.setReply("M208", "5");
    EXPECT_EQ(-1, m0.readM208());
    int a = 9, b = 9;
    peer.setReply("M109", "3,4");
    EXPECT_EQ(0, m0.readM109(&a, &b));
    EXPECT_EQ(9, a);

    int v[4] = {7, 7, 7, 7};
    peer.setReply("M209", "1,2,3,4");
    EXPECT_EQ(-1, m0.readM209(&v[0], &v[1], &v[2], &v[3]));
    EXPECT_EQ(7, v[0]);
    EXPECT_EQ(0, m0.checkDuties());
    EXPECT_NE(std::string::npos,
              testsupport::readFile(rootPath("/data/var/TalvikS.log")).find("Duty value: [0, 0, 0, 0]"));
}

TEST_F(M0Link, ASilentPeerFailsInsteadOfRepeatingTheLastAnswer)
{
    peer.setValues("M208", "5");
    EXPECT_EQ(5, m0.readM208());
    peer.setSilent("M208", true);
    const long long start = testsupport::monotonicMs();
    EXPECT_EQ(-1, m0.readM208());
    EXPECT_LT(testsupport::monotonicMs() - start, 10000);

    EXPECT_EQ(1, m0.setM107("1"));
    peer.setSilent("M107", true);
    EXPECT_EQ(0, m0.setM107("1"));
    peer.setSilent("M230", true);
    std::string version = "unchanged";
    EXPECT_EQ(-2, m0.getVersion(version));
    EXPECT_EQ("unchanged", version);
}

TEST_F(M0Link, ALateReplyIsNotTakenForTheNextOne)
{
    peer.setValues("M204", "1");
    peer.setValues("M208", "2");
    peer.setDelayMs("M204", 3000); // three times the read time-out
    EXPECT_EQ(-1, m0.readM204());
    ASSERT_TRUE(testsupport::eventually([&] { return peer.repliesSent() == 1; }, 20000));
    EXPECT_EQ(2, m0.readM208());
}

TEST_F(M0Link, ArgumentsThatWouldInjectCommandsAreRefused)
{
    const size_t before = peer.lines().size();
    for (const std::string& hostile : {std::string("1\r\nM301"), std::string("1\nM301"), std::string("1] [2"),
                                       std::string("[1"), std::string("1]"), std::string("1\0M301", 6)})
        EXPECT_EQ(0, m0.setM111(hostile));
    EXPECT_EQ(before, peer.lines().size());
    EXPECT_EQ(1, m0.setM111("1,2 3"));
}

TEST(M0Control, WithoutAPortEveryCommandFails)
{
    M0Control m0("");
    EXPECT_EQ(-1, m0.connect());
    EXPECT_EQ(0, m0.setM105("1"));
    EXPECT_EQ(-1, m0.readM204());
    std::string version;
    EXPECT_EQ(-1, m0.getVersion(version));
}

TEST(M0Control, HardResetWaitsItsPulses)
{
    sim::ScaledClock clock(100);
    ScopedPlatform installed(&clock);
    const int64_t start = timespecToNs(clock.now());
    M0Control::hardReset();
    EXPECT_GE(timespecToNs(clock.now()) - start, 550 * 1000000LL);
}

TEST(M0Lock, AVersionReadWaitsForTheCommandInFlight)
{
    // A slow machine clock: the reply in flight takes 1.2 s of the read's 2 s of real time.
    sim::ScaledClock clock(0.5);
    ScopedPlatform installed(&clock);
    sim::MicrocontrollerPeer peer;
    M0Control m0(peer.path().c_str());
    ASSERT_EQ(0, m0.connect());
    peer.setValues("M208", "2");
    peer.setDelayMs("M208", 600);
    std::thread reader([&] { EXPECT_EQ(2, m0.readM208()); });
    ASSERT_TRUE(testsupport::eventually([&] { return peer.lines().size() == 1; }, 5000));
    std::string version;
    std::thread versionReader([&] { EXPECT_EQ(0, m0.getVersion(version)); });
    // The version query waits its turn instead of writing into the exchange in flight.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(peer.inputPending());
    reader.join();
    versionReader.join();
    EXPECT_EQ("M0 V1.2.3", version);
}
