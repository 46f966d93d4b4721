// Seamless looping: the loop decisions by loop count, the loop helper and the swap of the
// player sets, frame-exact across the loop points of a real movie.

#include "CueTestSupport.h"
#include "MediaFixtures.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "VideoFrame.h"

#include <spdlog/sinks/ostream_sink.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

MediaTime at600(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

// 10 fps, 2 s: frame n shows from n / 10 s.
bool makeCounter10(const std::string& name)
{
    return MediaFixtures::ffmpeg(
        "-f lavfi -i \"testsrc=size=320x240:rate=10:duration=2,format=yuv420p,"
        "geq=lum='if(lt(Y,16),if(mod(floor(N/pow(2,floor(X/40))),2),235,16),lum(X,Y))'"
        ":cb='if(lt(Y,8),128,cb(X,Y))':cr='if(lt(Y,8),128,cr(X,Y))'\" -c:v libx264 -g 5 -bf 2 -crf 16 " + name);
}

// A cue whose second audio player is a recording fake.
class LoopingCue : public RecordingCue {
public:
    using RecordingCue::RecordingCue;
    QList<int> madeAudio;  // the device channels of each player made (0: a file player)
    std::shared_ptr<FakeAudioPlayer> helperAudio = std::make_shared<FakeAudioPlayer>();
    bool makesHelperAudio = true;
    std::shared_ptr<KavioCueAudioPlayer> makeAudioPlayer(const QString&, int deviceChannels) override
    {
        madeAudio << deviceChannels;
        return makesHelperAudio ? helperAudio : nullptr;
    }
};

TEST(KavioVideoItemLooping, LoopCountDecidesEachPass)
{
    struct Case {
        std::int32_t count;
        std::uint64_t counter;  // passes begun after the first
        bool shouldLoop, isLast;
    };
    const Case cases[] = {
        {3, 0, true, false},  {3, 1, true, false},  {3, 2, false, true},
        {1, 0, false, true},  {0, 0, false, true},  {-1, 0, false, true},
        {KavioLoopCountEndless, 0, true, false}, {KavioLoopCountEndless, 1000000, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " " << c.counter);
        CueUnderTest t;
        t.cue->setIsLooping(true);
        t.cue->setLoopCount(c.count);
        t.cue->setLoopCounter(c.counter);
        EXPECT_EQ(t.cue->shouldLoop(), c.shouldLoop);
        EXPECT_EQ(t.cue->isLastLoop(), c.isLast);
        EXPECT_EQ(t.cue->wasLooping(), c.counter != 0);
        t.cue->setIsLooping(false);
        EXPECT_FALSE(t.cue->isLastLoop());
    }
}

TEST(KavioVideoItemLooping, LiveCuesKeepTheirAudioAndTheHelperIsBuiltOnce)
{
    for (const int type : {int(KavioMediaTypeCamera), int(KavioMediaTypeNDI), int(KavioMediaTypeStill)}) {
        SCOPED_TRACE(type);
        auto controller = std::make_shared<FakeKavioVideoItemManager>();
        auto cue = std::make_shared<LoopingCue>();
        cue->setManager(controller);
        cue->setMediaType(type);
        cue->setInTime(at600(0.5));
        auto normal = std::make_shared<FakeAudioPlayer>();
        normal->gain = 0.25f;
        cue->setAudioPlayer(normal);
        cue->setupLoopHelper();
        cue->setupLoopHelper();
        const bool live = type != KavioMediaTypeStill;
        EXPECT_EQ(cue->madeAudio, QList<int>{live ? 2 : 0});
        EXPECT_FLOAT_EQ(cue->helperAudio->gain, 0.25f);

        cue->switchPlayersOnLoop();
        EXPECT_EQ(cue->audioPlayer(), live ? normal : cue->helperAudio);
        EXPECT_EQ(cue->steps.count("volumeChanged"), 1);
        cue->switchPlayersOnLoop();
        EXPECT_EQ(cue->audioPlayer(), normal);
        // A live player plays on untouched; a file player that finished a pass waits at the in
        // point.
        EXPECT_EQ(normal->times, live ? QList<double>{} : QList<double>{0.5});
        EXPECT_EQ(normal->stops, live ? 0 : 1);
        EXPECT_EQ(cue->helperAudio->times, live ? QList<double>{} : QList<double>{0.5});
    }
}

TEST(KavioVideoItemLooping, WithoutHelperAudioTheNormalPlayerWaitsAtTheInPoint)
{
    auto controller = std::make_shared<FakeKavioVideoItemManager>();
    auto cue = std::make_shared<LoopingCue>();
    cue->setManager(controller);
    cue->setMediaType(KavioMediaTypeStill);
    cue->setInTime(at600(0.5));
    cue->makesHelperAudio = false;
    auto normal = std::make_shared<FakeAudioPlayer>();
    cue->setAudioPlayer(normal);
    cue->setupLoopHelper();
    cue->increaseTimeForNonMoviesNonRecursively(3.0);
    cue->setIsLooping(true);
    cue->setLoopCount(3);
    cue->handleLooping();
    EXPECT_EQ(cue->audioPlayer(), normal);
    EXPECT_EQ(normal->stops, 1);
    EXPECT_EQ(normal->times, QList<double>{0.5});
    EXPECT_EQ(normal->plays, 1);  // startPlayers restarts it
    EXPECT_EQ(cue->loopCounter(), 1u);
    EXPECT_DOUBLE_EQ(cue->tempCurrentTimeForNonMovies(), 0.5);
}

// counter10.mp4 with in point 0.5 s and out point 0.5 s (frames 5 to 14), loop count 3, ready.
struct LoopingMovie {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<LoopingCue> cue = std::make_shared<LoopingCue>(osc.sender());

    explicit LoopingMovie(bool looping)
    {
        QVariantMap record;
        record.insert("_intime", at600(0.5).toData());
        record.insert("isLooping", looping);
        const auto path = QString::fromStdString(MediaFixtures::madePath("counter10.mp4", makeCounter10));
        EXPECT_TRUE(cue->initMovieCue(path, controller, record));
        cue->setOutTime(at600(0.5));
        cue->setLoopCount(3);
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
    }
    // The frame the cue's current frame source gives now, as the render pass takes it.
    int frameNow()
    {
        std::shared_ptr<const VideoFrame> frame;
        cue->pixelBufferQueue().sync([&] { frame = cue->pixelBufferCopy(); });
        return frame ? MediaFixtures::frameNumberOf(*frame) : -1;
    }
};

TEST(KavioVideoItemLooping, LoopPointsAreFrameExactAcrossBothSets)
{
    LoopingMovie movie(true);
    auto& cue = *movie.cue;
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue.canLoop() && cue.loopHelperVideoOutput(); }, 60.0));
    // The helper stands at the in point, prerolled and filled.
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] { return cue.loopHelperVideoPlayer()->currentTime() == at600(0.5); }, 30.0));
    DispatchQueue::runMainUntil([&] { return movie.frameNow() == 5; }, 30.0);
    ASSERT_EQ(movie.frameNow(), 5);

    // A reader stands in for the render thread, a worker for the clock thread. Neither may
    // spin for ever: a loaded machine can hide a frame from the reader, so a pass ends at the
    // first frame seen at or past the out point, and every wait has a deadline.
    std::atomic<bool> done{false};
    std::vector<int> seen;  // the reader's only, read after the join
    std::atomic<int> passEnds{0};
    std::thread reader([&] {
        while (!done) {
            const int frame = movie.frameNow();
            if (frame >= 0 && (seen.empty() || seen.back() != frame)) {
                if (frame >= 14 && (seen.empty() || seen.back() < 14))
                    ++passEnds;
                seen.push_back(frame);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::vector<MediaPlayer*> currentAfterLoop;
    std::atomic<bool> clockDone{false};
    std::thread clock([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (int pass = 1; pass <= 3; ++pass) {
            // The pass's last frame is on screen: the tick at the cue's end time.
            while (passEnds < pass && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            if (pass == 3 || passEnds < pass)
                break;
            cue.handleLooping();
            currentAfterLoop.push_back(cue.videoPlayer());
        }
        done = true;
        clockDone = true;
    });
    cue.startPlayers();
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return clockDone.load(); }, 90.0));
    done = true;
    clock.join();
    reader.join();

    // Each pass starts exactly at the in point and ends exactly at the out point, in order.
    std::vector<std::vector<int>> passes;
    for (const int frame : seen) {
        if (passes.empty() || frame < passes.back().back())
            passes.emplace_back();
        passes.back().push_back(frame);
    }
    ASSERT_EQ(passes.size(), 3u) << testing::PrintToString(seen);
    for (const auto& pass : passes) {
        SCOPED_TRACE(testing::PrintToString(pass));
        EXPECT_EQ(pass.front(), 5);
        EXPECT_EQ(pass.back(), 14);
    }
    // An idle machine shows every frame; a loaded one may hide one from the reader.
    if (seen.size() != 30u)
        std::cerr << "the reader missed frames: " << testing::PrintToString(seen) << "\n";
    ASSERT_EQ(currentAfterLoop.size(), 2u);
    EXPECT_EQ(currentAfterLoop[0], cue.loopHelperVideoPlayer());
    EXPECT_EQ(currentAfterLoop[1], cue.normalVideoPlayer());
    EXPECT_EQ(cue.videoOutput(), cue.normalVideoOutput());
    EXPECT_EQ(cue.loopCounter(), 2u);
    EXPECT_FALSE(cue.shouldLoop());
    EXPECT_TRUE(cue.isLastLoop());
    cue.pausePlayersWithPreroll(false);
}

TEST(KavioVideoItemLooping, HelperNotReadyKeepsTheVideoAndStillSwapsTheAudio)
{
    CueLogCapture log;
    LoopingMovie movie(false);
    auto& cue = *movie.cue;
    auto normal = std::make_shared<FakeAudioPlayer>();
    cue.setAudioPlayer(normal);
    cue.setIsLooping(true);
    cue.setupLoopHelper();  // its readiness arrives on the main queue, not run yet
    ASSERT_NE(cue.loopHelperVideoPlayer(), nullptr);
    ASSERT_FALSE(cue.canLoop());
    MediaPlayer* before = cue.videoPlayer();
    cue.handleLooping();
    EXPECT_EQ(cue.videoPlayer(), before);
    EXPECT_EQ(cue.videoOutput(), cue.normalVideoOutput());
    EXPECT_TRUE(log.contains("looping handler does not ready..."));
    EXPECT_EQ(cue.audioPlayer(), cue.helperAudio);
    EXPECT_EQ(normal->stops, 1);
    EXPECT_EQ(normal->times.last(), 0.5);
    EXPECT_EQ(cue.helperAudio->plays, 1);
    EXPECT_EQ(cue.loopCounter(), 1u);
    cue.pausePlayersWithPreroll(false);
}

}  // namespace
