// The HyperDeck server over real TCP on 127.0.0.1 (a port the system chooses), answering from a
// recording delegate.

#include "HyperDeckTestClient.h"
#include "ZelmoraDelegate.h"
#include "ZelmoraServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>

namespace {

struct RecordingDelegate : ZelmoraDelegate {
    std::mutex mutex;
    QStringList calls;
    QString status = QStringLiteral("stopped");
    QString singleClip = QStringLiteral("false");
    QStringList clips;
    int clipsInfoReads = 0;

    void record(const QString& call)
    {
        std::lock_guard lock(mutex);
        calls << call;
    }
    QStringList take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }
    void set(const std::function<void()>& change)
    {
        std::lock_guard lock(mutex);
        change();
    }

    QString hyperdeck_playbackStatus() override
    {
        std::lock_guard lock(mutex);
        return status;
    }
    std::int32_t hyperdeck_playbackSpeed() override { return hyperdeck_playbackStatus() == "play" ? 100 : 0; }
    std::int32_t hyperdeck_slotID() override { return 1; }
    QString hyperdeck_clipID() override { return QStringLiteral("2"); }
    QString hyperdeck_displayTimecode() override { return QStringLiteral("00:00:10:05"); }
    QString hyperdeck_isSingleClip() override
    {
        std::lock_guard lock(mutex);
        return singleClip;
    }
    QString hyperdeck_isLooping() override { return QStringLiteral("false"); }
    QString hyperdeck_videoFormat() override { return QStringLiteral("1080p30"); }
    std::int32_t hyperdeck_clipCount() override
    {
        std::lock_guard lock(mutex);
        return std::int32_t(clips.size());
    }
    QStringList hyperdeck_clipsInfo() override
    {
        std::lock_guard lock(mutex);
        ++clipsInfoReads;
        return clips;
    }
    void hyperdeck_startPlayback() override { record("start"); }
    void hyperdeck_stopPlayback() override { record("stop"); }
    void hyperdeck_gotoClip(std::uint64_t id) override { record(QStringLiteral("gotoClip(%1)").arg(id)); }
    void hyperdeck_gotoWithTimecode(const QString& tc) override { record("gotoTimecode(" + tc + ")"); }
    void hyperdeck_makePauseAtEndOnAllItems() override { record("pauseAtEndOnAll"); }
    void hyperdeck_makePauseAtEndOffAllItems() override { record("pauseAtEndOffAll"); }
    void hyperdeck_makeLoopOnCurrentItem() override { record("loopOnCurrent"); }
    void hyperdeck_makeLoopOffCurrentItem() override { record("loopOffCurrent"); }
    void hyperdeck_makeLoopOnPlaylist() override { record("loopOnPlaylist"); }
    void hyperdeck_makeLoopOffPlaylist() override { record("loopOffPlaylist"); }
};

ZelmoraServer::Options testOptions()
{
    ZelmoraServer::Options options;
    options.port = 0;
    options.bindAddress = "127.0.0.1";
    return options;
}

struct ServerFixture {
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    ZelmoraServer server;
    explicit ServerFixture(ZelmoraServer::Options options = testOptions()) : server(std::move(options))
    {
        delegate->clips = {"1: Intro 00:00:00:00 00:00:10:00", "2: Act 00:00:10:00 00:01:00:00"};
        server.setDelegate(delegate);
        EXPECT_TRUE(server.start());
    }
    // A connected client past the banner.
    std::unique_ptr<HyperDeckTestClient> client()
    {
        auto c = std::make_unique<HyperDeckTestClient>(server.port());
        EXPECT_TRUE(c->connected());
        EXPECT_EQ(c->reply(), "500 connection info:\r\nprotocol version: 1.11\r\nmodel: Kavio\r\n\r\n");
        return c;
    }
    bool waitForConnections(std::size_t n)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (server.connectionCount() != n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return server.connectionCount() == n;
    }
};

}  // namespace

TEST(ZelmoraServer, AnswersQuestionsFromTheDelegate)
{
    ServerFixture f;
    const auto c = f.client();
    EXPECT_EQ(c->command("transport info"),
              "208 transport info:\r\nstatus: stopped\r\nspeed: 0\r\nslot id: 1\r\nclip id: 2\r\nsingle clip: false\r\n"
              "display timecode: 00:00:10:05\r\ntimecode: 00:00:10:05\r\nvideo format: 1080p30\r\nloop: false\r\n\r\n");
    EXPECT_EQ(c->command("clips count"), "214 clips count:\r\nclip count: 2\r\n\r\n");
    EXPECT_EQ(c->command("clips get"), "205 clips info:\r\nclip count: 2\r\n1: Intro 00:00:00:00 00:00:10:00\r\n"
                                       "2: Act 00:00:10:00 00:01:00:00\r\n\r\n");
    EXPECT_EQ(c->command("clips get: clip id: 2 count: 5"), "205 clips info:\r\nclip count: 1\r\n2: Act 00:00:10:00 00:01:00:00\r\n\r\n");
    EXPECT_EQ(c->command("clips get: clip id: 3"), "109 out of range\r\n");
    EXPECT_EQ(c->command("device info"), "204 device info:\r\nprotocol version: 1.11\r\nmodel: Kavio\r\nslot count: 1\r\n\r\n");
    EXPECT_EQ(c->command("slot info"), "202 slot info:\r\nslot id: 1\r\nstatus: mounted\r\nvideo format: 1080p30\r\n\r\n");
    EXPECT_EQ(c->command("slot info: slot id: 2"), "109 out of range\r\n");
    EXPECT_EQ(c->command("ping"), "200 ok\r\n");
    EXPECT_EQ(c->command("record"), "100 syntax error\r\n");
    EXPECT_EQ(c->command("play: speed: 200"), "102 invalid value\r\n");
    EXPECT_EQ(c->command("stop: now: true"), "101 unsupported parameter\r\n");
    EXPECT_TRUE(f.delegate->take().isEmpty());  // refused commands act on nothing

    // Without a delegate the deck is empty and stopped.
    f.server.setDelegate({});
    EXPECT_EQ(c->command("clips count"), "214 clips count:\r\nclip count: 0\r\n\r\n");
    EXPECT_NE(c->command("transport info").find("clip id: none\r\n"), std::string::npos);
    EXPECT_EQ(c->command("goto: clip id: 1"), "109 out of range\r\n");
}

TEST(ZelmoraServer, TransportCommandsAskTheirQuestionsInOrder)
{
    ServerFixture f;
    const auto c = f.client();
    const struct {
        const char* command;
        const char* singleClipNow;
        QStringList calls;
    } cases[] = {
        {"play", "false", {"start"}},
        {"play: single clip: true", "false", {"pauseAtEndOnAll", "start"}},
        {"play: single clip: false loop: true", "true", {"pauseAtEndOffAll", "loopOnPlaylist", "start"}},
        {"play: single clip: true loop: false", "false", {"pauseAtEndOnAll", "loopOffCurrent", "start"}},
        // Without "single clip", the current cue's answer decides which loop.
        {"play: loop: true", "true", {"loopOnCurrent", "start"}},
        {"play: loop: false", "false", {"loopOffPlaylist", "start"}},
        {"stop", "false", {"stop"}},
        {"goto: clip id: 2", "false", {"gotoClip(2)"}},
        {"goto: timecode: -00:00:30:00", "false", {"gotoTimecode(-00:00:30:00)"}},
        {"goto: timecode: 00:00:05:00", "false", {"gotoTimecode(00:00:05:00)"}},
    };
    for (const auto& t : cases) {
        f.delegate->set([&] { f.delegate->singleClip = t.singleClipNow; });
        EXPECT_EQ(c->command(t.command), "200 ok\r\n") << t.command;
        EXPECT_EQ(f.delegate->take(), t.calls) << t.command;
    }
    // The block form acts as the line does.
    c->send("play:\r\nsingle clip: true\r\n\r\n");
    EXPECT_EQ(c->reply(), "200 ok\r\n");
    EXPECT_EQ(f.delegate->take(), QStringList({"pauseAtEndOnAll", "start"}));
    // Clips outside the list are not asked for.
    EXPECT_EQ(c->command("goto: clip id: 3"), "109 out of range\r\n");
    EXPECT_EQ(c->command("goto: clip id: 0"), "109 out of range\r\n");
    EXPECT_TRUE(f.delegate->take().isEmpty());
}

TEST(ZelmoraServer, ClipListIsReadAgainOnlyAfterARefresh)
{
    ServerFixture f;
    const auto c = f.client();
    EXPECT_EQ(c->command("clips count"), "214 clips count:\r\nclip count: 2\r\n\r\n");
    c->command("clips get");
    f.delegate->set([&] { f.delegate->clips = {"1: Only 00:00:00:00 00:00:05:00"}; });
    EXPECT_EQ(c->command("clips count"), "214 clips count:\r\nclip count: 2\r\n\r\n");  // still the cached list
    f.server.refreshPlaylist();
    EXPECT_EQ(c->command("clips get"), "205 clips info:\r\nclip count: 1\r\n1: Only 00:00:00:00 00:00:05:00\r\n\r\n");
    EXPECT_EQ(c->command("goto: clip id: 2"), "109 out of range\r\n");
    f.delegate->set([&] { EXPECT_EQ(f.delegate->clipsInfoReads, 2); });
}

TEST(ZelmoraServer, SubscribersHearTransportChanges)
{
    ServerFixture f;
    const auto listener = f.client();
    const auto other = f.client();
    EXPECT_EQ(listener->command("notify"), "209 notify:\r\ntransport: false\r\nslot: false\r\nremote: false\r\nconfiguration: false\r\n\r\n");
    EXPECT_EQ(listener->command("notify: transport: true"), "200 ok\r\n");
    f.delegate->set([&] { f.delegate->status = "play"; });
    // Only the changed fields, only to the subscriber.
    EXPECT_EQ(listener->reply(), "508 transport info:\r\nstatus: play\r\nspeed: 100\r\n\r\n");
    EXPECT_EQ(other->command("ping"), "200 ok\r\n");
    EXPECT_EQ(listener->command("notify: transport: false"), "200 ok\r\n");
    f.delegate->set([&] { f.delegate->status = "stopped"; });
    EXPECT_EQ(listener->command("ping"), "200 ok\r\n");
    EXPECT_EQ(listener->pending(), "");
}

TEST(ZelmoraServer, RefusesWhatWouldHurtIt)
{
    auto options = testOptions();
    options.maxConnections = 2;
    options.maxLineLength = 64;
    options.halfLineTimeout = std::chrono::milliseconds(300);
    ServerFixture f(options);
    const auto a = f.client();

    // An overlong line and bytes that are not UTF-8: refused, the connection goes on.
    a->send(std::string(200, 'x') + "\r\n");
    EXPECT_EQ(a->reply(), "100 syntax error\r\n");
    EXPECT_EQ(a->command("clips get\xff"), "100 syntax error\r\n");
    EXPECT_EQ(a->command("ping"), "200 ok\r\n");

    // A client closing mid-command acts on nothing and takes nothing down with it.
    {
        HyperDeckTestClient gone(f.server.port());
        ASSERT_FALSE(gone.reply().empty());  // the server has it
        gone.send("sto");
        gone.close();
    }
    ASSERT_TRUE(f.waitForConnections(1));
    EXPECT_TRUE(f.delegate->take().isEmpty());

    // Beyond the cap: refused and closed.
    const auto b = f.client();
    HyperDeckTestClient third(f.server.port());
    EXPECT_EQ(third.reply(), "120 connection rejected\r\n");
    EXPECT_TRUE(third.closedByServer());

    // A half line left standing closes its connection; the others stay.
    b->send("transport inf");
    EXPECT_TRUE(b->closedByServer());
    EXPECT_EQ(a->command("ping"), "200 ok\r\n");

    // A client that stops sending still gets its answers.
    auto c = f.client();
    c->send("stop\r\nping\r\n");
    c->shutdownSending();
    EXPECT_EQ(c->reply(), "200 ok\r\n");
    EXPECT_EQ(c->reply(), "200 ok\r\n");
    EXPECT_TRUE(c->closedByServer());
    EXPECT_EQ(f.delegate->take(), QStringList({"stop"}));
}

TEST(ZelmoraServer, QuitClosesAndStopClosesThePort)
{
    ServerFixture f;
    const auto a = f.client();
    EXPECT_EQ(a->command("quit"), "200 ok\r\n");
    EXPECT_TRUE(a->closedByServer());

    const auto b = f.client();
    const std::uint16_t port = f.server.port();
    f.server.stop();
    EXPECT_FALSE(f.server.isRunning());
    EXPECT_TRUE(b->closedByServer());
    EXPECT_FALSE(HyperDeckTestClient(port).connected());
    f.server.stop();  // twice is harmless

    ASSERT_TRUE(f.server.start());
    EXPECT_EQ(f.client()->command("ping"), "200 ok\r\n");
}

TEST(ZelmoraServer, AClientThatNeverReadsIsClosed)
{
    auto options = testOptions();
    options.maxPendingOutput = 64 * 1024;
    ServerFixture f(options);
    // A small receive window, so the kernel cannot take every reply off the server's hands.
    HyperDeckTestClient greedy(f.server.port(), 16 * 1024);
    const auto other = f.client();
    // Far more replies (some 11 MB) than the socket buffers hold, none of them read.
    std::string commands;
    for (int i = 0; i < 100000; ++i)
        commands += "clips get\r\n";
    // Cut short when the server gives up on it first.
    greedy.send(commands);
    // Read nothing before that (reading would keep its replies flowing).
    EXPECT_TRUE(f.waitForConnections(1));
    EXPECT_TRUE(greedy.closedByServer());
    EXPECT_EQ(other->command("ping"), "200 ok\r\n");
}
