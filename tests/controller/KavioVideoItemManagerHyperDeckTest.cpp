// The cue list answering a HyperDeck-protocol controller: a real server on 127.0.0.1 (a free
// port), a real TCP client, the real controller with its cues on the stepped master clock.

#include "SteppedShow.h"

#include "HyperDeckTestClient.h"
#include "Remote/KavioHyperDeckServer.h"
#include "ZelmoraServer.h"

#include <gtest/gtest.h>

namespace {

// The controller, noting each seek with whether it came from a goto.
class SeekRecordingManager : public KavioVideoItemManager {
public:
    SeekRecordingManager(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    QStringList seeks;
    void seekToSMPTETime(const QString& smpte) override
    {
        seeks << (seekPerformedByGoto() ? QStringLiteral("goto ") : QString()) + smpte;
        KavioVideoItemManager::seekToSMPTETime(smpte);
    }
};

ZelmoraServer::Options loopbackOptions()
{
    ZelmoraServer::Options options;
    options.port = 0;
    options.bindAddress = "127.0.0.1";
    return options;
}

// The server as the shell wires it: the adapter is the controller's outlet, the controller its
// delegate.
struct ServedController {
    ZelmoraServer server{loopbackOptions()};
    std::shared_ptr<KavioHyperDeckServer> adapter = std::make_shared<KavioHyperDeckServer>(server);

    void attach(ControllerFixture& f)
    {
        KavioVideoItemManagerOutlets outlets = f.controller->outlets();
        outlets.hyperDeckServer = adapter;
        f.controller->setOutlets(outlets);
        adapter->setDelegate(f.controller);
        EXPECT_TRUE(adapter->start());
    }
    std::unique_ptr<HyperDeckTestClient> client()
    {
        auto c = std::make_unique<HyperDeckTestClient>(server.port());
        EXPECT_EQ(c->reply(), "500 connection info:\r\nprotocol version: 1.11\r\nmodel: Kavio\r\n\r\n");
        return c;
    }
};

// Cues of 10 s and 20 s at 25 fps: the second starts 10 s into the show.
struct HyperDeckShow : SteppedShowFixture<SeekRecordingManager> {
    ServedController served;
    std::unique_ptr<HyperDeckTestClient> client;
    HyperDeckShow() : SteppedShowFixture({250, 500})
    {
        openJumps();
        for (const auto& cue : cues)
            cue->rewindsAtOnce = true;
        cues[0]->setCueName(QStringLiteral("Intro"));
        cues[1]->setCueName(QStringLiteral("Act\r\n200 ok"));
        served.attach(*this);
        client = served.client();
    }
    // The command's reply, then the main queue run until the action it posted is done.
    std::string command(const std::string& line)
    {
        const std::string reply = client->command(line);
        settle();
        return reply;
    }
};

}  // namespace

TEST(KavioVideoItemManagerHyperDeck, AnEmptyListIsAStoppedDeckWithoutClips)
{
    ControllerFixture f;
    f.connected();
    ServedController served;
    served.attach(f);
    const auto client = served.client();
    EXPECT_EQ(client->command("transport info"),
              "208 transport info:\r\nstatus: stopped\r\nspeed: 0\r\nslot id: 1\r\nclip id: none\r\nsingle clip: false\r\n"
              "display timecode: 00:00:00:00\r\ntimecode: 00:00:00:00\r\nvideo format: 1080p30\r\nloop: false\r\n\r\n");
    EXPECT_EQ(client->command("clips count"), "214 clips count:\r\nclip count: 0\r\n\r\n");
    EXPECT_EQ(client->command("clips get"), "205 clips info:\r\nclip count: 0\r\n\r\n");
    EXPECT_EQ(client->command("slot info"), "202 slot info:\r\nslot id: 1\r\nstatus: mounted\r\nvideo format: 1080p30\r\n\r\n");
}

TEST(KavioVideoItemManagerHyperDeck, CuesAreClipsAndNamesCannotAddLines)
{
    HyperDeckShow f;
    EXPECT_EQ(f.command("clips get"), "205 clips info:\r\nclip count: 2\r\n1: Intro 00:00:00:00 00:00:10:00\r\n"
                                      "2: Act  200 ok 00:00:10:00 00:00:20:00\r\n\r\n");
    const std::string transport = f.command("transport info");
    EXPECT_NE(transport.find("clip id: 1\r\n"), std::string::npos) << transport;
    EXPECT_NE(transport.find("single clip: false\r\n"), std::string::npos) << transport;

    EXPECT_EQ(f.command("goto: clip id: 2"), "200 ok\r\n");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.controller->currentItem() == f.cues[1]; }, 30.0));
    EXPECT_NE(f.command("transport info").find("clip id: 2\r\n"), std::string::npos);

    // A rebuilt list is read again.
    f.controller->removeItem(f.cues[0]);
    f.controller->buildItemQueue();
    EXPECT_EQ(f.command("clips count"), "214 clips count:\r\nclip count: 1\r\n\r\n");
}

TEST(KavioVideoItemManagerHyperDeck, PlayAndStopFollowThePlayButton)
{
    HyperDeckShow f;
    const auto togglesSeen = [&] { return f.calls().count(QStringLiteral("app.togglePlay")); };

    // Disabled: nothing.
    f.app->play.setEnabled(false);
    EXPECT_EQ(f.command("play"), "200 ok\r\n");
    EXPECT_EQ(f.app->play.state(), 0);
    f.app->play.setEnabled(true);
    // Off and enabled: started.
    EXPECT_EQ(f.command("play"), "200 ok\r\n");
    EXPECT_EQ(f.app->play.state(), 1);
    EXPECT_EQ(togglesSeen(), 1);
    // Already on: nothing.
    EXPECT_EQ(f.command("play"), "200 ok\r\n");
    EXPECT_EQ(togglesSeen(), 0);
    // On: stopped; off: nothing.
    EXPECT_EQ(f.command("stop"), "200 ok\r\n");
    EXPECT_EQ(f.app->play.state(), 0);
    EXPECT_EQ(togglesSeen(), 1);
    EXPECT_EQ(f.command("stop"), "200 ok\r\n");
    EXPECT_EQ(togglesSeen(), 0);

    // "loop" without "single clip" on a cue that does not pause: the playlist loops.
    EXPECT_EQ(f.command("play: loop: true"), "200 ok\r\n");
    EXPECT_EQ(f.app->loop.state(), 1);
    EXPECT_NE(f.command("transport info").find("loop: true\r\n"), std::string::npos);
    EXPECT_EQ(f.command("stop"), "200 ok\r\n");
}

TEST(KavioVideoItemManagerHyperDeck, TimecodeGotosLandInsideTheCurrentCue)
{
    HyperDeckShow f;
    f.controller->jumpToItem(f.cues[1]);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.controller->currentItem() == f.cues[1]; }, 30.0));

    const auto clockText = [&](double seconds) { return f.clock->smpteRepresentationOfTime(seconds); };
    const struct {
        const char* command;
        QString seek;
    } cases[] = {
        {"goto: timecode: -00:00:30:00", "goto " + clockText(0.001)},  // before the show: its start
        {"goto: timecode: -00:00:10:00", "goto 00:00:00:00"},
        {"goto: timecode: +00:00:05:00", "goto 00:00:15:00"},
        // Capped by the offset alone: 15 s into a 20 s cue stands.
        {"goto: timecode: +00:00:15:00", "goto 00:00:25:00"},
        {"goto: timecode: +00:00:25:00", "goto " + clockText(10 + 20 - 0.04 - 0.001)},
        // No sign: a time on the show's line.
        {"goto: timecode: 00:00:12:00", "00:00:12:00"},
    };
    for (const auto& t : cases) {
        // Each from the second cue's start: a goto counts from where the stopped cue stands.
        f.controller->seekToSMPTETime(QStringLiteral("00:00:10:00"));
        f.settle();
        ASSERT_EQ(f.cues[1]->itemStartSMPTETime(), "00:00:10:00");
        f.show->seeks.clear();
        EXPECT_EQ(f.command(t.command), "200 ok\r\n") << t.command;
        EXPECT_EQ(f.show->seeks, QStringList{t.seek}) << t.command;
        EXPECT_FALSE(f.controller->seekPerformedByGoto());
    }
}

TEST(KavioVideoItemManagerHyperDeck, GotoOffsetsStayInsideTheShowAndTheCue)
{
    const double frame = 0.04;
    const struct {
        bool minus;
        double offset, start, runTime, expected;
    } cases[] = {
        {true, 30, 10, 20, 0.001 - 10},  // show time 0.001
        {true, 10, 10, 20, -10},         // show time 0
        {true, 4, 10, 20, -4},
        {false, 5, 10, 20, 5},
        {false, 15, 10, 20, 15},               // start + offset passes the run time: not capped
        {false, 25, 10, 20, 20 - frame - 0.001},  // the last frame
        {false, 5, 0, 0.02, 0},                // a cue shorter than a frame: its start
    };
    for (const auto& t : cases)
        EXPECT_DOUBLE_EQ(KavioVideoItemManager::hyperdeckGotoOffset(t.minus, t.offset, t.start, t.runTime, frame), t.expected)
            << t.minus << " " << t.offset;
}

TEST(KavioVideoItemManagerHyperDeck, SingleClipAndLoopSetTheCuesToggles)
{
    HyperDeckShow f;
    const auto pausesAtEnd = [&] {
        QList<bool> out;
        for (const auto& cue : f.cues)
            out << cue->shouldStopAtEnd();
        return out;
    };
    EXPECT_EQ(f.command("play: single clip: true"), "200 ok\r\n");
    EXPECT_EQ(pausesAtEnd(), QList<bool>({true, true}));
    EXPECT_NE(f.command("transport info").find("single clip: true\r\n"), std::string::npos);
    // Loop on the current cue takes its pause at end; loop off gives it back.
    EXPECT_EQ(f.command("play: loop: true"), "200 ok\r\n");
    EXPECT_TRUE(f.cues[0]->isLooping());
    EXPECT_EQ(pausesAtEnd(), QList<bool>({false, true}));
    f.controller->hyperdeck_makeLoopOffCurrentItem();
    EXPECT_FALSE(f.cues[0]->isLooping());
    EXPECT_EQ(pausesAtEnd(), QList<bool>({true, true}));
    EXPECT_EQ(f.command("play: single clip: false"), "200 ok\r\n");
    EXPECT_EQ(pausesAtEnd(), QList<bool>({false, false}));
}
