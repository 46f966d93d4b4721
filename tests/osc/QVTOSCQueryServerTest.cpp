#include "FakeZeroconf.h"
#include "QVTOSCManager.h"
#include "QVTOSCQueryServer.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

class OSCQueryServerTest : public ::testing::Test {
protected:
    struct Reply {
        int status = 0;  // 0: no connection
        json body;
    };
    Reply get(const std::string& path)
    {
        httplib::Client client("127.0.0.1", server.port());
        client.set_connection_timeout(2);
        client.set_read_timeout(2);
        auto result = client.Get(path.c_str());
        if (!result)
            return {};
        Reply reply{result->status, json()};
        if (result->status == 200)
            reply.body = json::parse(result->body);
        return reply;
    }

    std::shared_ptr<FakeZeroconf> zeroconf = std::make_shared<FakeZeroconf>();
    QVTOSCQueryServer server{"Kavio", 0, "/", zeroconf};
};

}  // namespace

TEST_F(OSCQueryServerTest, TheTreeFollowsEveryOperation)
{
    ASSERT_TRUE(server.isRunning());
    Reply empty = get("/");
    ASSERT_EQ(empty.status, 200);
    EXPECT_EQ(empty.body, (json{{"FULL_PATH", "/"}, {"ACCESS", 0}}));

    server.addOSCAddress("/kavio/resume", "N", QVariant(), QVariant(), "Resumes playback.");
    server.addOSCAddress("/kavio/playCueAtIndex", "i", 1, 999, "Plays the Cue.");
    server.addOSCAddress("/kavio/mainFader", "Controls the Main Fader.");
    EXPECT_EQ(get("/kavio/mainFader").body,
              (json{{"FULL_PATH", "/kavio/mainFader"}, {"ACCESS", 2},
                    {"DESCRIPTION", "Controls the Main Fader."}}));
    server.setType("f", "/kavio/mainFader");
    server.setRangeWithMin(0.0, 1.0, "/kavio/mainFader");

    const json tree = get("/").body;
    const json& kavio = tree["CONTENTS"]["kavio"];
    EXPECT_EQ(kavio["FULL_PATH"], "/kavio");
    EXPECT_EQ(kavio["ACCESS"], 0);
    EXPECT_EQ(kavio["CONTENTS"]["resume"],
              (json{{"FULL_PATH", "/kavio/resume"}, {"ACCESS", 2}, {"TYPE", "N"},
                    {"DESCRIPTION", "Resumes playback."}}));
    const json& fader = kavio["CONTENTS"]["mainFader"];
    EXPECT_EQ(fader["TYPE"], "f");
    EXPECT_EQ(fader["RANGE"], json::parse(R"([{"MIN": 0.0, "MAX": 1.0}])"));
    const json& index = kavio["CONTENTS"]["playCueAtIndex"];
    EXPECT_EQ(index["RANGE"], json::parse(R"([{"MIN": 1, "MAX": 999}])"));
    EXPECT_TRUE(index["RANGE"][0]["MAX"].is_number_integer());

    // A cue's address space: registered, its range changed later, then removed as a whole.
    server.addOSCAddress("/kavio/3/posX", "f", -960.0, 960.0, "Position X.");
    server.addOSCAddress("/kavio/3/opacity", "f", 0.0, 1.0, "Opacity.");
    server.setRangeWithMin(-1280.0, 1280.0, "/kavio/3/posX");
    EXPECT_EQ(get("/kavio/3/posX").body["RANGE"], json::parse(R"([{"MIN": -1280.0, "MAX": 1280.0}])"));

    server.removeOSCAddress("/kavio/3/opacity");
    EXPECT_EQ(get("/kavio/3/opacity").status, 404);
    EXPECT_EQ(get("/kavio/3").status, 200);  // still holds posX
    server.removeOSCAddress("/kavio/3");
    EXPECT_EQ(get("/kavio/3").status, 404);
    EXPECT_EQ(get("/kavio/3/posX").status, 404);
    EXPECT_EQ(get("/kavio").body["CONTENTS"].size(), 3u);

    // Removing the last address of a container takes the emptied container with it.
    server.addOSCAddress("/kavio/7/scale", "f", QVariant(), QVariant(), "Scale.");
    server.removeOSCAddress("/kavio/7/scale");
    EXPECT_EQ(get("/kavio/7").status, 404);
}

TEST_F(OSCQueryServerTest, AnswersHostInfoAttributesAndUnknownPaths)
{
    server.addOSCAddress("/kavio/ping", "N", QVariant(), QVariant(), "Pong.");

    const Reply hostInfo = get("/?HOST_INFO");
    ASSERT_EQ(hostInfo.status, 200);
    EXPECT_EQ(hostInfo.body["NAME"], "Kavio");
    EXPECT_EQ(hostInfo.body["OSC_PORT"], server.port());
    EXPECT_EQ(hostInfo.body["OSC_TRANSPORT"], "UDP");

    struct Case {
        const char* request;
        int status;
        const char* body;
    } cases[] = {
        {"/kavio/ping?TYPE", 200, R"({"TYPE": "N"})"},
        {"/kavio/ping?DESCRIPTION", 200, R"({"DESCRIPTION": "Pong."})"},
        {"/kavio/ping?RANGE", 204, nullptr},
        {"/kavio/ping?VALUE", 204, nullptr},
        {"/kavio/ping/", 200, nullptr},
        {"/kavio/pong", 404, nullptr},
        {"/nothing/here", 404, nullptr},
        {"/kavio/ping/deeper", 404, nullptr},
    };
    for (const auto& c : cases) {
        const Reply r = get(c.request);
        EXPECT_EQ(r.status, c.status) << c.request;
        if (c.body) {
            EXPECT_EQ(r.body, json::parse(c.body)) << c.request;
        }
    }
}

// As an OSC-query client sees it (curl), HOST_INFO names the port the OSC input listens on, also
// once the input has moved away from the server's own port.
TEST_F(OSCQueryServerTest, HostInfoNamesTheOSCInputsPortAfterItMoves)
{
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
        GTEST_SKIP() << "curl is not installed";
    const auto oscPortSeenByCurl = [&] {
        QProcess curl;
        curl.start(QStringLiteral("curl"), {QStringLiteral("-sf"), QStringLiteral("--max-time"), QStringLiteral("30"),
                                            QStringLiteral("http://127.0.0.1:%1/?HOST_INFO").arg(server.port())});
        if (!curl.waitForFinished(60000) || curl.exitCode() != 0)
            return -1;
        return json::parse(curl.readAllStandardOutput().toStdString()).value("OSC_PORT", -1);
    };
    EXPECT_EQ(oscPortSeenByCurl(), server.port()) << "no input named yet: the server's own port";

    QVTOSCManager manager(nullptr);
    ASSERT_TRUE(manager.createInputWithName(QStringLiteral("Kavio"), 0));
    const int first = manager.portOfInputWithName(QStringLiteral("Kavio"));
    server.setOSCPort(first);
    EXPECT_EQ(oscPortSeenByCurl(), first);

    int moved = first;
    for (int attempt = 0; attempt < 10 && moved == first; ++attempt) {
        ASSERT_TRUE(manager.createInputWithName(QStringLiteral("Kavio"), 0));
        moved = manager.portOfInputWithName(QStringLiteral("Kavio"));
    }
    ASSERT_NE(moved, first);
    server.setOSCPort(moved);
    EXPECT_EQ(oscPortSeenByCurl(), moved);
    EXPECT_NE(moved, server.port());
}

TEST_F(OSCQueryServerTest, StopAndRestartKeepTheAddressesAndThePublication)
{
    ASSERT_EQ(zeroconf->published().size(), 1u);
    EXPECT_EQ(zeroconf->published()[0], FakeZeroconf::Entry("Kavio", "_oscjson._tcp", server.port()));
    server.addOSCAddress("/kavio/panic", "N", QVariant(), QVariant(), "Panic.");
    const int port = server.port();

    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(get("/kavio/panic").status, 0);  // nobody answers
    EXPECT_TRUE(zeroconf->published().empty());
    server.removeOSCAddress("/kavio/nothing");  // tree changes still work while stopped
    server.addOSCAddress("/kavio/rewind", "N", QVariant(), QVariant(), "Rewind.");

    server.restart();
    server.restart();  // a second restart changes nothing
    ASSERT_TRUE(server.isRunning());
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(get("/kavio/panic").status, 200);
    EXPECT_EQ(get("/kavio/rewind").status, 200);
    EXPECT_EQ(zeroconf->published().size(), 1u);
}

TEST_F(OSCQueryServerTest, APortInUseLeavesTheSecondServerStopped)
{
    QVTOSCQueryServer second("Second", server.port(), "/", nullptr);
    EXPECT_FALSE(second.isRunning());
    second.addOSCAddress("/a", "N", QVariant(), QVariant(), "A.");  // still usable as a tree
    EXPECT_FALSE(second.jsonForPath("/a").empty());
}

TEST(QVTOSCQueryServer, AddressesOutsideTheRootAreRefused)
{
    QVTOSCQueryServer server("Sub", 0, "/kavio", nullptr);
    server.addOSCAddress("/kavio/play", "N", QVariant(), QVariant(), "Play.");
    server.addOSCAddress("/other/x", "N", QVariant(), QVariant(), "X.");
    server.addOSCAddress("/kaviox/y", "N", QVariant(), QVariant(), "Y.");
    server.addOSCAddress("kavio/z", "N", QVariant(), QVariant(), "Z.");
    const json root = json::parse(server.jsonForPath("/kavio"));
    EXPECT_EQ(root["FULL_PATH"], "/kavio");
    ASSERT_EQ(root["CONTENTS"].size(), 1u);
    EXPECT_EQ(root["CONTENTS"]["play"]["FULL_PATH"], "/kavio/play");
    EXPECT_TRUE(server.jsonForPath("/other/x").empty());
}
