// The cue's transport: seeks and rewinds over real players reading each frame's bar code, the
// position measures and their edge cases, preroll, start and pause, and the time-jump report.

#include "CueTestSupport.h"
#include "MediaFixtures.h"

#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"
#include "VideoFrame.h"

#include "Log.h"

#include <spdlog/sinks/ostream_sink.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <sstream>
#include <thread>

namespace {

MediaTime at600(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

// A cue that records the frame-source steps the transport hands to the frame supply.
class TransportCue : public KavioVideoItem {
public:
    using KavioVideoItem::KavioVideoItem;
    QList<MediaTime> fills;
    int pauseRepairs = 0;
    void fillVideoOutputOfPlayerFromCMTime(MediaPlayer&, const MediaTime& time) override { fills << time; }
    void fillVideoOutputAfterPauseIfNeeded() override { ++pauseRepairs; }
    // Whether the clock stands inside this cue's transition into its next cue.
    bool inTransitionToNext = false;
    bool isProcessingTransitionToNextCueAtCurrentTime() const override { return inTransitionToNext; }

    // Starts the movie player while the first preparation's seek is in flight, so the preroll
    // that follows it fails (a playing player has nothing to preroll).
    bool startUnderFirstPreparation = false;
    void rewindAndPrerollWhenNotIsReady() override
    {
        const bool preparing = !isReady() && videoPlayer();
        KavioVideoItem::rewindAndPrerollWhenNotIsReady();
        if (preparing && startUnderFirstPreparation)
            videoPlayer()->setRate(1.0f, MediaTime::invalid(), MediaTime::invalid());
    }
};

// counter25.mp4 (25 fps, 2 s) in a cue under a recording controller, ready.
struct MovieCue {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<TransportCue> cue = std::make_shared<TransportCue>(osc.sender());

    explicit MovieCue(double inSeconds = 0.0, std::int64_t percent = 100)
    {
        QVariantMap record;
        record.insert("_intime", at600(inSeconds).toData());
        record.insert("playbackrate", qint64(percent));
        const auto path = QString::fromStdString(MediaFixtures::path("counter25.mp4"));
        EXPECT_TRUE(cue->initMovieCue(path, controller, record));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
    }
    MediaPlayer& player() const { return *cue->videoPlayer(); }
    // Runs the main queue until the seek's completion ran and its time jump was handled.
    void settleSeek()
    {
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !cue->isSeeking(); }, 60.0));
        DispatchQueue::runMainUntil([] { return false; }, 0.1);
    }
    int frameNow() const
    {
        int number = -1;
        DispatchQueue::runMainUntil(
            [&] {
                const auto frame = player().copyFrameForItemTime(player().currentTime());
                number = frame ? MediaFixtures::frameNumberOf(*frame) : -1;
                return number >= 0;
            },
            30.0);
        return number;
    }
};

// A live or still cue under a recording controller, no player.
struct PlainCue {
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<TransportCue> cue = std::make_shared<TransportCue>();
    std::shared_ptr<FakeAudioPlayer> audio = std::make_shared<FakeAudioPlayer>();

    explicit PlainCue(int type = KavioMediaTypeStill, std::uint64_t index = 2)
    {
        cue->setManager(controller);
        cue->setMediaType(type);
        cue->setIndex(index);
    }
};

TEST(KavioVideoItemTransport, SeeksLandOnTheFrameOfTheTargetAtEverySpeedAndInPoint)
{
    struct Case {
        std::int64_t percent;
        double in;
        double target;  // seconds at the current speed
        int frame;
    };
    const Case cases[] = {
        {100, 0.0, 1.0, 25}, {50, 0.0, 1.0, 12}, {200, 0.0, 0.5, 25},
        {100, 0.4, 1.0, 25}, {50, 0.4, 1.2, 15}, {200, 0.4, 0.5, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.percent << " % in " << c.in << " to " << c.target);
        MovieCue movie(c.in, c.percent);
        movie.cue->seekToCMTime(at600(c.target));
        EXPECT_TRUE(movie.cue->isSeeking());
        EXPECT_TRUE(movie.cue->preloadedTime().isIndefinite());
        movie.settleSeek();
        EXPECT_EQ(movie.frameNow(), c.frame);
        if (c.in == 0.0) {
            const MediaTime position = movie.cue->currentCMTime();
            EXPECT_EQ(position, at600(c.target));
            if (c.percent != 100) {
                EXPECT_EQ(position.timescale, MediaTime::kCueTimescale);
            }
        }
        movie.cue->rewind();
        movie.settleSeek();
        EXPECT_EQ(movie.frameNow(), int(std::lround(c.in * 25)));
    }
}

TEST(KavioVideoItemTransport, BadSeekTargetsAreRefusedOrHeldWithinTheMedia)
{
    MovieCue movie;
    movie.cue->seekToCMTime(at600(0.8));
    movie.settleSeek();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return movie.cue->preloadedTime().isNumeric(); }, 30.0));

    {
        // Where the player stands already: no seek, the preroll cache is kept.
        CueLogCapture log;
        movie.cue->seekToCMTime(at600(0.8));
        EXPECT_FALSE(movie.cue->isSeeking());
        EXPECT_EQ(movie.cue->preloadedTime(), at600(0.8));
        EXPECT_TRUE(log.contains("seek is done - it was not needed"));

        movie.cue->seekToCMTime(MediaTime::indefinite());
        movie.cue->seekToCMTime(MediaTime::positiveInfinity());
        EXPECT_FALSE(movie.cue->isSeeking());
        EXPECT_EQ(movie.player().currentTime(), at600(0.8));
        EXPECT_TRUE(log.contains("refusing a seek"));
    }

    movie.cue->seekToCMTime(at600(-3.0));
    movie.settleSeek();
    EXPECT_EQ(movie.frameNow(), 0);
    movie.cue->seekToCMTime(at600(60.0));
    movie.settleSeek();
    EXPECT_EQ(movie.player().currentTime(), movie.player().duration());
}

TEST(KavioVideoItemTransport, FirstPreparationSeeksToTheInPointPrerollsAndBecomesReadyOnce)
{
    int readyPosts = 0;
    NotificationCenter::defaultCenter().addObserver(&readyPosts, kKavioItemBecameReadyNotification, nullptr,
                                                    [&](const Notification&) { ++readyPosts; });
    {
        MovieCue movie(0.4);
        EXPECT_EQ(movie.frameNow(), 10);
        EXPECT_EQ(movie.cue->preloadedTime(), at600(0.4));
        EXPECT_TRUE(movie.cue->itemIsRewindedAndPreloaded());
        ASSERT_EQ(movie.cue->fills.size(), 1);
        EXPECT_EQ(movie.cue->fills[0], at600(0.4));
        movie.cue->rewindAndPrerollWhenNotIsReady();  // ready already: nothing
        DispatchQueue::runMainUntil([] { return false; }, 0.1);
        EXPECT_EQ(movie.cue->fills.size(), 1);
    }
    NotificationCenter::defaultCenter().removeObserver(&readyPosts);
    EXPECT_EQ(readyPosts, 1);
}

TEST(KavioVideoItemTransport, FirstPreparationAppliesTheKeptRecordAndAFailedPrerollStillEndsReady)
{
    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "failed preroll" : "prerolled");
        RecordingOSCOutput osc;
        const auto controller = std::make_shared<FakeKavioVideoItemManager>();
        const auto cue = std::make_shared<TransportCue>(osc.sender());
        const auto audio = std::make_shared<FakeAudioPlayer>();
        cue->startUnderFirstPreparation = failing;
        ASSERT_TRUE(cue->initMovieCue(QString::fromStdString(MediaFixtures::path("counter25.mp4")), controller, {}));
        // What a project's record leaves for the movie to apply once its media is there.
        cue->setAudioPlayer(audio);
        cue->setCachedRestoreData({{"volume", 0.5f}, {"channelmap", QVariantList{qint32(2), qint32(1)}}});
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
        EXPECT_FLOAT_EQ(cue->volume(), 0.5f);
        EXPECT_EQ(audio->mapping, (QList<int>{2, 1}));
        EXPECT_TRUE(cue->cachedRestoreData().isEmpty());
        EXPECT_EQ(audio->times, QList<double>{0.0});
        EXPECT_EQ(cue->fills.size(), 1);
        EXPECT_EQ(cue->preloadedTime().isIndefinite(), failing);
        cue->videoPlayer()->pause();
    }
}

TEST(KavioVideoItemTransport, RewindChainReportsTheJumpOnceAlsoWhenNothingWasPrerolled)
{
    MovieCue movie(0.4);
    movie.cue->allowTimeChangedNotifications();
    movie.cue->seekToCMTime(at600(1.4));
    movie.settleSeek();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return movie.controller->timeJumps.size() == 1; }, 30.0));

    movie.controller->timeJumps.clear();
    movie.cue->rewind();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return movie.controller->timeJumps.size() == 1; }, 30.0));
    EXPECT_EQ(movie.frameNow(), 10);
    EXPECT_TRUE(movie.cue->itemIsRewindedAndPreloaded());
    std::vector<bool> answers;
    movie.cue->prerollVideoAtCurrentTimeWithCompletedHandler([&](bool yes) { answers.push_back(yes); });
    EXPECT_EQ(answers, std::vector<bool>{false});  // at once: nothing to preroll

    // Prerolled here already: the preroll answers no, the report still comes, once.
    movie.controller->timeJumps.clear();
    movie.cue->timeJumped(nullptr);
    DispatchQueue::runMainUntil([] { return false; }, 0.3);
    EXPECT_EQ(movie.controller->timeJumps.size(), 1);

    // At the in point a rewind moves no player and tells the controller at once.
    movie.controller->timeJumps.clear();
    movie.cue->rewind();
    EXPECT_EQ(movie.controller->timeJumps.size(), 1);
    EXPECT_FALSE(movie.cue->isSeeking());
}

TEST(KavioVideoItemTransport, StartFromAWorkerPauseWithPrerollAndResumeShowThePausedFrameFirst)
{
    MovieCue movie;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        movie.cue->startPlayers();
        returned = true;
    });
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return returned.load(); }, 30.0));
    worker.join();
    EXPECT_TRUE(movie.cue->isPlaying());
    EXPECT_GT(movie.player().rate(), 0.0f);
    EXPECT_TRUE(movie.cue->preloadedTime().isIndefinite());
    const int early = movie.frameNow();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return movie.frameNow() > early + 3; }, 30.0));

    movie.cue->pausePlayersWithPreroll(true);
    EXPECT_FALSE(movie.cue->isPlaying());
    EXPECT_EQ(movie.player().rate(), 0.0f);
    const MediaTime paused = movie.cue->absoluteCurrentCMTime();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return movie.cue->preloadedTime().isNumeric(); }, 30.0));
    EXPECT_EQ(movie.cue->preloadedTime(), paused);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return movie.cue->pauseRepairs == 1; }, 5.0));
    const int pausedFrame = movie.frameNow();

    movie.cue->startPlayers();
    std::vector<int> shown{movie.frameNow()};
    DispatchQueue::runMainUntil(
        [&] {
            shown.push_back(movie.frameNow());
            return shown.back() > pausedFrame + 3;
        },
        30.0);
    // On a loaded machine the first look may come a frame late, never earlier, never backwards.
    EXPECT_GE(shown.front(), pausedFrame);
    EXPECT_LE(shown.front(), pausedFrame + 1);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    movie.cue->pausePlayersWithPreroll(false);
}

TEST(KavioVideoItemTransport, AnInPointEditLeavesThePlayerInUseWhereItStands)
{
    MovieCue movie;
    const auto audio = std::make_shared<FakeAudioPlayer>();
    movie.cue->setAudioPlayer(audio);
    movie.cue->seekToCMTime(at600(1.0));
    movie.settleSeek();
    audio->times.clear();
    const int fills = int(movie.cue->fills.size());
    movie.cue->setInTime(at600(0.4));
    // Not looping; looping before the loop helper is prerolled; looping with it: only the idle
    // set (here none) is parked again.
    const struct {
        bool looping, canLoop;
    } cases[] = {{false, true}, {true, false}, {true, true}};
    for (const auto& c : cases) {
        movie.cue->setIsLooping(c.looping);
        movie.cue->setCanLoop(c.canLoop);
        movie.cue->handleInTimeChange();
        EXPECT_FALSE(movie.cue->isSeeking());
        DispatchQueue::runMainUntil([] { return false; }, 0.2);
        EXPECT_EQ(movie.player().currentTime(), at600(1.0));
        EXPECT_TRUE(audio->times.isEmpty());
        EXPECT_EQ(movie.cue->fills.size(), fills);
    }
}

TEST(KavioVideoItemTransport, AFailedPrerollAnswersNoAndForgetsThePrerolledPosition)
{
    MovieCue movie;
    movie.cue->seekToCMTime(at600(1.0));
    movie.settleSeek();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return movie.cue->preloadedTime().isNumeric(); }, 30.0));
    // Started under the cue: a playing player has nothing to preroll.
    movie.player().setRate(1.0f);
    std::vector<bool> answers;
    movie.cue->prerollVideoAtCurrentTimeWithCompletedHandler([&](bool yes) { answers.push_back(yes); });
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !answers.empty(); }, 30.0));
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_TRUE(movie.cue->preloadedTime().isIndefinite());
    movie.player().pause();
}

TEST(KavioVideoItemTransport, FollowingTimecodeNothingIsPrerolled)
{
    MovieCue movie;
    movie.controller->mode = 2;
    movie.cue->seekToCMTime(at600(1.0));
    movie.settleSeek();
    CueLogCapture log;
    int filled = 0;
    movie.cue->fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler([&] { ++filled; });
    EXPECT_EQ(filled, 1);  // at once
    EXPECT_TRUE(movie.cue->preloadedTime().isIndefinite());
    movie.cue->startPlayers();
    movie.cue->pausePlayersWithPreroll(true);
    DispatchQueue::runMainUntil([] { return false; }, 0.3);
    EXPECT_EQ(movie.cue->pauseRepairs, 0);
    EXPECT_TRUE(log.contains("skip prerolling because playback mode is not Standalone"));
    EXPECT_TRUE(log.contains("error, preroll was not needed on pausePlayersWithPreroll"));
}

// A chased timecode starts the show on a seek: the clock runs from the start, so the picture
// must too, not from when the seek's frames came.
TEST(KavioVideoItemTransport, AStartDuringASeekRunsFromTheStartNotFromTheSeeksEnd)
{
    MovieCue movie;
    movie.controller->mode = 2;
    // Frame 23: eleven frames past a key frame, so the seek decodes a while.
    const MediaTime target = at600(0.92);
    movie.cue->seekToCMTime(target);
    movie.cue->startPlayers();
    const std::int64_t started = MediaPlayer::hostTimeNow().value;
    movie.settleSeek();
    const std::int64_t now = MediaPlayer::hostTimeNow().value;
    const double ran = MediaTime::subtract(movie.player().currentTime(), target).seconds();
    EXPECT_GE(ran + 1e-6, double(now - started) * 1e-9) << "the player started when the seek ended";
    movie.cue->pausePlayersWithPreroll(false);
}

TEST(KavioVideoItemTransport, CompletionsReachingAReleasedCueDoNothing)
{
    auto movie = std::make_unique<MovieCue>();
    movie->cue->seekToCMTime(at600(1.0));
    movie->cue->prerollVideoAtCurrentTimeWithCompletedHandler([](bool) { ADD_FAILURE() << "released cue answered"; });
    movie.reset();
    DispatchQueue::runMainUntil([] { return false; }, 0.5);
}

TEST(KavioVideoItemTransport, PositionMeasuresAndTheirEdges)
{
    {
        PlainCue plain(KavioMediaTypeAudio);
        plain.cue->setAudioPlayer(plain.audio);
        plain.cue->increaseTimeForNonMovies(1.5);
        plain.cue->setInTime(at600(0.5));
        EXPECT_EQ(plain.cue->currentCMTime(), at600(1.0));  // audio-only reads the non-movie time
        EXPECT_EQ(plain.cue->timeLeftSMPTE(), "-00:00:00:00");  // not ready
        plain.cue->setLoopCounter(3);
        plain.cue->setItemDuration(10.0f);
        EXPECT_TRUE(MediaTime::isIdentical(plain.cue->loopedCMTime(), MediaTime::make(18000, 600)));
        plain.cue->setPlaybackRatePercent(50);
        EXPECT_EQ(plain.cue->currentCMTime(), at600(2.0));
        EXPECT_EQ(plain.cue->currentCMTimeWithEffectivePlaybackRate(false), at600(1.0));
    }
    for (int type : {7, 8, 9, 11}) {
        PlainCue plain(type);
        plain.cue->increaseTimeForNonMovies(4.0);
        plain.cue->setInTime(at600(0.25));
        EXPECT_EQ(plain.cue->currentCMTime(), at600(-0.25)) << type;
    }
}

TEST(KavioVideoItemTransport, NeedsRewindExactlyOutsideTheInAndOutPoints)
{
    PlainCue plain;
    plain.cue->setDurationOfNonMovies(10.0f);
    plain.cue->setInTime(at600(1.0));
    plain.cue->setOutTime(at600(2.0));
    const struct {
        double at;
        bool rewind;
    } cases[] = {{1.0, false}, {8.0, false}, {1.0 - 1.0 / 600, true}, {8.0 + 1.0 / 600, true}, {4.0, false}};
    for (const auto& c : cases) {
        plain.cue->seekToCMTime(at600(c.at));
        EXPECT_EQ(plain.cue->needsRewindBeforeStartPlayback(), c.rewind) << c.at;
    }
}

TEST(KavioVideoItemTransport, NonMovieTimeFollowsIntoTheNextCueByTheIndexRule)
{
    const struct {
        std::uint64_t nextIndex;
        bool globalTransition;
        double nextAdvanced;
    } cases[] = {{1, true, 0.5}, {3, true, 0.0}, {3, false, 0.5}};
    for (const auto& c : cases) {
        PlainCue from(KavioMediaTypeStill, 2), to(KavioMediaTypeStill, c.nextIndex);
        from.controller->globalTransition = c.globalTransition;
        from.cue->setHasTransition(true);
        from.cue->setNextItem(to.cue);
        to.cue->setIsPlaying(true);
        from.cue->increaseTimeForNonMovies(0.5);
        EXPECT_DOUBLE_EQ(from.cue->tempCurrentTimeForNonMovies(), 0.5);
        EXPECT_DOUBLE_EQ(to.cue->tempCurrentTimeForNonMovies(), c.nextAdvanced) << c.nextIndex;
    }
}

TEST(KavioVideoItemTransport, AJumpInsideATransitionPutsTheNextCuePastItsInPointByTheTimeSinceItBegan)
{
    const struct {
        double in;
        std::int64_t percent;
        double media;  // where the next cue's media then stands
    } cases[] = {{0.0, 100, 1.0}, {0.4, 100, 1.4}, {0.4, 50, 0.9}};
    for (const auto& c : cases) {
        PlainCue from(KavioMediaTypeStill, 2), to(KavioMediaTypeStill, 3);
        from.cue->setItemDuration(10.0f);
        from.cue->setHasTransition(true);
        from.cue->setTransitionTime(2.0);
        from.cue->increaseTimeForNonMovies(9.0);  // one second into the last two
        from.cue->inTransitionToNext = true;
        from.cue->setNextItem(to.cue);
        to.cue->setInTime(at600(c.in));
        to.cue->setPlaybackRatePercent(c.percent);
        from.cue->timeJumped(nullptr);
        EXPECT_NEAR(to.cue->tempCurrentTimeForNonMovies(), c.media, 1.0 / 600) << c.in << " at " << c.percent;
    }
}

TEST(KavioVideoItemTransport, SeeksOfCuesWithoutAMoviePlayerByPlaybackMode)
{
    for (std::int64_t mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        PlainCue plain(KavioMediaTypeAudio);
        plain.controller->mode = mode;
        plain.audio->seconds = 2.0;
        plain.cue->setAudioPlayer(plain.audio);
        plain.cue->setIsReady(true);
        plain.cue->allowTimeChangedNotifications();
        plain.cue->seekToCMTime(at600(1.0));
        plain.cue->seekToCMTime(at600(3.0));  // past the audio file: the player stays
        EXPECT_EQ(plain.audio->times, QList<double>{1.0});
        EXPECT_DOUBLE_EQ(plain.cue->tempCurrentTimeForNonMovies(), 3.0);
        // Standalone the jump report comes through timeJumped; following timecode it does not.
        EXPECT_EQ(plain.controller->timeJumps.size(), mode == 0 ? 2 : 0);
    }
}

TEST(KavioVideoItemTransport, PrerollAnswersWithoutAPlayerAndWhenNotReady)
{
    PlainCue plain(KavioMediaTypeCamera);
    std::vector<bool> answers;
    plain.cue->prerollVideoAtCurrentTimeWithCompletedHandler([&](bool yes) { answers.push_back(yes); });
    plain.cue->setIsReady(true);
    plain.cue->prerollVideoAtCurrentTimeWithCompletedHandler([&](bool yes) { answers.push_back(yes); });
    EXPECT_EQ(answers, (std::vector<bool>{false, true}));
}

TEST(KavioVideoItemTransport, StartAndPauseOfCuesWithoutAMoviePlayer)
{
    struct Case {
        int type;
        bool fadeIn;
        bool globalTransition;
    };
    for (const Case c : {Case{KavioMediaTypeCamera, false, false}, Case{KavioMediaTypeNDI, true, false},
                         Case{KavioMediaTypeBrowser, false, true}, Case{KavioMediaTypeWindow, false, false}}) {
        SCOPED_TRACE(c.type);
        PlainCue plain(c.type);
        auto source = std::make_shared<FakeRecordedSource>();
        plain.cue->setBrowserSource(source);
        plain.cue->setWindowSource(source);
        plain.cue->setAudioPlayer(plain.audio);
        plain.controller->globalTransition = c.globalTransition;
        plain.cue->fadeInButton().state = c.fadeIn ? 1 : 0;
        plain.cue->setFadeOpacity(0.25f);
        plain.cue->setAudioFade(0.5f);
        plain.cue->setOriginalItemStartSMPTETime("00:00:01:00");
        plain.cue->allowTimeChangedNotifications();

        plain.cue->startPlayers();
        EXPECT_TRUE(plain.cue->isPlaying());
        EXPECT_FALSE(plain.cue->shouldForwardTimeJumpedMessages());
        EXPECT_FLOAT_EQ(plain.cue->fadeOpacity(), c.fadeIn ? 0.25f : 1.0f);
        EXPECT_FLOAT_EQ(plain.cue->audioFade(), c.globalTransition ? 0.5f : 1.0f);
        EXPECT_EQ(plain.audio->plays, 1);
        EXPECT_EQ(plain.cue->itemStartSMPTETime(), "00:00:01:00");
        EXPECT_EQ(source->rendering, c.type == KavioMediaTypeBrowser || c.type == KavioMediaTypeWindow);

        plain.cue->pausePlayersWithPreroll(true);
        plain.cue->pausePlayersWithPreroll(true);  // not playing: no player changes
        EXPECT_FALSE(plain.cue->isPlaying());
        EXPECT_EQ(plain.audio->stops, 1);
    }
}

}  // namespace

namespace {

TEST(KavioVideoItemTransport, TimeLeftOnTheClocksFrameGridNeverBelowZeroWithATransition)
{
    PlainCue plain;
    plain.controller->clock = QVTClock::initClock();
    plain.controller->clock->setSmpteFormat(QVTClockSMPTEFormat25);
    plain.cue->setIsReady(true);
    plain.cue->setItemDuration(10.0f);
    plain.cue->increaseTimeForNonMovies(4.0);
    EXPECT_EQ(plain.cue->currentTimeSMPTE(), "00:00:04:00");
    // Counted to the start of the last frame (the cue's end on the line).
    EXPECT_EQ(plain.cue->timeLeftSMPTE(), "-00:00:05:24");
    EXPECT_NEAR(plain.cue->timeLeftUntilEndOrTransition(), 5.96, 1e-9);
    plain.cue->setHasTransition(true);
    plain.cue->setTransitionTime(2.0);
    EXPECT_NEAR(plain.cue->timeLeftUntilEndOrTransition(), 3.96, 1e-9);
    // 8 s in, past the transition's start.
    plain.cue->increaseTimeForNonMovies(4.0);
    EXPECT_DOUBLE_EQ(plain.cue->timeLeftUntilEndOrTransition(), 0.0);
}

}  // namespace
