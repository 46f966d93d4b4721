// The movie player on real files: its clock against the monotonic clock, seeks, prerolls, events,
// and two players handing over at a loop point.

#include "DispatchQueue.h"
#include "MediaFixtures.h"
#include "MediaPlayer.h"
#include "PlayerFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Collects completions and events as they arrive on the test's own queue. Made before the
// players, so that it outlives their callbacks.
class Inbox {
public:

    MediaPlayer::Completion completion(const std::string& name) {
        return [this, name](bool finished) { note(name + (finished ? ":finished" : ":cancelled")); };
    }
    MediaPlayer::EventHandler events(const std::string& name) {
        return [this, name](MediaPlayerEvent e) {
            note(name + (e == MediaPlayerEvent::TimeJumped ? ":jumped" : ":end"));
        };
    }
    void note(const std::string& entry) {
        EXPECT_TRUE(queue.isCurrent());
        std::lock_guard lock(mutex_);
        entries_.push_back(entry);
        changed_.notify_all();
    }
    // Waits until `count` entries have arrived (5 s at most) and answers them all.
    std::vector<std::string> waitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return entries_.size() >= count; });
        return entries_;
    }
    std::vector<std::string> drain() {
        queue.sync([] {});
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;

public:
    DispatchQueue queue{"test.inbox"};  // last: it finishes its tasks before the rest goes
};

std::unique_ptr<MediaPlayer> openPlayer(const std::string& path) {
    MediaError error;
    auto player = MediaPlayer::open(path, {}, &error);
    EXPECT_TRUE(player) << error.message;
    return player;
}

// Seeks frame-exact and prerolls, as the cue parks a player; true when both finished.
bool park(MediaPlayer& player, Inbox& inbox, const MediaTime& at) {
    const size_t before = inbox.drain().size();
    player.seekToTime(at, MediaTime::zero(), MediaTime::zero(), inbox.queue, inbox.completion("seek"));
    player.prerollAtRate(1, inbox.queue, inbox.completion("preroll"));
    const auto entries = inbox.waitFor(before + 2);
    return entries.size() >= before + 2 && entries[before] == "seek:finished" &&
           entries[before + 1] == "preroll:finished";
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

TEST(MediaPlayer, ClockAdvancesAtTheRateOnTheMonotonicClock) {
    Inbox inbox;
    auto player = openPlayer(PlayerFixtures::path("counter10.mp4"));
    ASSERT_TRUE(player);
    for (float rate : {1.0f, 0.5f}) {
        SCOPED_TRACE(rate);
        ASSERT_TRUE(park(*player, inbox, MediaTime::zero()));
        player->setRate(rate);
        EXPECT_EQ(player->rate(), rate);
        // Each reading is bracketed by clock reads, so a busy machine that preempts the test
        // between a reading and its clock read widens the window instead of failing it.
        const Clock::time_point before0 = Clock::now();
        const double c0 = player->currentTime().seconds();
        const Clock::time_point after0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const Clock::time_point before1 = Clock::now();
        const double c1 = player->currentTime().seconds();
        const Clock::time_point after1 = Clock::now();
        EXPECT_GE(c1 - c0, seconds(before1 - after0) * rate - 0.02);
        EXPECT_LE(c1 - c0, seconds(after1 - before0) * rate + 0.02);
        player->pause();
        const MediaTime stopped = player->currentTime();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(player->currentTime(), stopped);
    }
}

TEST(MediaPlayer, StartAtAHostTimeRunsFromThere) {
    Inbox inbox;
    auto player = openPlayer(PlayerFixtures::path("counter10.mp4"));
    ASSERT_TRUE(player);
    ASSERT_TRUE(park(*player, inbox, MediaTime::make(1, 1)));
    const MediaTime host = MediaPlayer::hostTimeNow() + MediaTime::make(1, 5);
    player->setRate(1, MediaTime::make(1, 1), host);
    // Until the host time comes, the clock reads earlier than the item time it starts from.
    ASSERT_TRUE(player->currentTime() < MediaTime::make(1, 1) ||
                MediaPlayer::hostTimeNow() >= host);
    std::this_thread::sleep_until(Clock::now() + std::chrono::milliseconds(400));
    const double before = 1.0 + (MediaPlayer::hostTimeNow() - host).seconds();
    const double reading = player->currentTime().seconds();
    const double after = 1.0 + (MediaPlayer::hostTimeNow() - host).seconds();
    EXPECT_GE(reading, before - 0.02);
    EXPECT_LE(reading, after + 0.02);
}

TEST(MediaPlayer, PrerollCompletesBeforePlayAndPlayStartsOnThePrerolledFrame) {
    Inbox inbox;
    auto player = openPlayer(MediaFixtures::path("counter25.mp4"));
    ASSERT_TRUE(player);
    // Frame 17 lies between key frames (every 12), so it needs decoding from frame 12.
    const MediaTime at = MediaTime::make(17, 25);
    ASSERT_TRUE(park(*player, inbox, at));
    EXPECT_EQ(player->currentTime(), at);
    player->setRate(1);
    const VideoFrameRef frame = player->copyFrameForItemTime(player->currentTime());
    ASSERT_TRUE(frame) << "no frame at once after play on a prerolled player";
    EXPECT_EQ(frame->presentationTime(), at);
    EXPECT_EQ(MediaFixtures::frameNumberOf(*frame), 17);
}

TEST(MediaPlayer, PrerollFinishesWhenTheReaderIsAheadOfThePausedClock) {
    Inbox inbox;
    auto player = openPlayer(MediaFixtures::path("counter25.mp4"));
    ASSERT_TRUE(player);
    const MediaTime at = MediaTime::make(17, 25);
    ASSERT_TRUE(park(*player, inbox, at));
    // The renderer's ring reads two frames ahead of the paused clock, which releases the frame
    // at the clock: a preroll there has nothing left to wait for.
    ASSERT_TRUE(player->copyFrameForItemTime(MediaTime::make(19, 25)));
    player->prerollAtRate(1, inbox.queue, inbox.completion("preroll"));
    const auto entries = inbox.waitFor(3);
    ASSERT_EQ(entries.size(), 3u) << "the preroll did not end";
    EXPECT_EQ(entries.back(), "preroll:finished");
    EXPECT_EQ(player->currentTime(), at);
}

TEST(MediaPlayer, SeekReplacedOrCancelledReportsNotFinished) {
    Inbox inbox;
    auto player = openPlayer(MediaFixtures::path("counter25.mp4"));
    ASSERT_TRUE(player);
    const MediaTime zero = MediaTime::zero();
    player->seekToTime(MediaTime::make(1, 1), zero, zero, inbox.queue, inbox.completion("first"));
    player->seekToTime(MediaTime::make(1, 2), zero, zero, inbox.queue, inbox.completion("second"));
    EXPECT_EQ(inbox.waitFor(2), (std::vector<std::string>{"first:cancelled", "second:finished"}));
    EXPECT_EQ(player->currentTime(), MediaTime::make(1, 2));

    // A cancelled seek still reports, and the frames at its target come all the same.
    player->seekToTime(MediaTime::make(23, 25), zero, zero, inbox.queue, inbox.completion("third"));
    player->cancelPendingSeeks();
    EXPECT_EQ(inbox.waitFor(3).back(), "third:cancelled");
    player->prerollAtRate(1, inbox.queue, inbox.completion("preroll"));
    EXPECT_EQ(inbox.waitFor(4).back(), "preroll:finished");
    const VideoFrameRef frame = player->copyFrameForItemTime(player->currentTime());
    ASSERT_TRUE(frame);
    EXPECT_EQ(MediaFixtures::frameNumberOf(*frame), 23);
}

TEST(MediaPlayer, ToleranceLetsTheSeekLandOnTheFrameStart) {
    Inbox inbox;
    auto player = openPlayer(PlayerFixtures::path("counter10.mp4"));
    ASSERT_TRUE(player);
    const MediaTime target = MediaTime::make(1234, 1000);
    const MediaTime frame = MediaTime::make(1, 10);
    player->seekToTime(target, frame, frame, inbox.queue, inbox.completion("seek"));
    ASSERT_EQ(inbox.waitFor(1).back(), "seek:finished");
    EXPECT_EQ(player->currentTime(), MediaTime::make(12, 10));
    // Too little tolerance before: the target itself.
    player->seekToTime(target, MediaTime::make(1, 100), frame, inbox.queue, inbox.completion("seek"));
    ASSERT_EQ(inbox.waitFor(2).back(), "seek:finished");
    EXPECT_EQ(player->currentTime(), target);
}

TEST(MediaPlayer, PrerollsEndWithFalseWhenInterrupted) {
    Inbox inbox;
    auto player = openPlayer(MediaFixtures::path("counter25.mp4"));
    ASSERT_TRUE(player);
    const MediaTime zero = MediaTime::zero();
    // Each preroll is interrupted before it can finish: by a cancel, a seek, a start.
    player->seekToTime(MediaTime::make(1, 1), zero, zero, inbox.queue, {});
    player->prerollAtRate(1, inbox.queue, inbox.completion("cancelled"));
    player->cancelPendingPrerolls();
    player->prerollAtRate(1, inbox.queue, inbox.completion("seeked"));
    player->seekToTime(MediaTime::make(3, 2), zero, zero, inbox.queue, {});
    player->prerollAtRate(1, inbox.queue, inbox.completion("started"));
    player->setRate(1);
    player->prerollAtRate(1, inbox.queue, inbox.completion("playing"));
    EXPECT_EQ(inbox.waitFor(4),
              (std::vector<std::string>{"cancelled:cancelled", "seeked:cancelled",
                                        "started:cancelled", "playing:cancelled"}));
}

TEST(MediaPlayer, EventsOnTheNamedQueueWithoutThePlayersLock) {
    Inbox inbox;
    auto player = openPlayer(PlayerFixtures::path("counter10.mp4"));
    ASSERT_TRUE(player);
    const int token = player->addEventObserver(inbox.queue, inbox.events("player"));
    // Callbacks may call back into the player: it does not hold its lock while they run.
    player->addEventObserver(inbox.queue, [&](MediaPlayerEvent) { (void)player->currentTime(); });
    const MediaTime zero = MediaTime::zero();
    player->seekToTime(MediaTime::make(28, 10), zero, zero, inbox.queue,
                       [&](bool) { player->setRate(1); });
    // Jumped on the seek, then the end of the 3-second file about 0.2 s later.
    EXPECT_EQ(inbox.waitFor(2), (std::vector<std::string>{"player:jumped", "player:end"}));
    EXPECT_EQ(player->currentTime(), player->duration());
    EXPECT_EQ(player->duration(), MediaTime::make(3, 1));
    EXPECT_EQ(player->rate(), 1.0f);

    // A start from another time jumps too; a start from where it stands does not.
    player->setRate(1, MediaTime::make(1, 1));
    EXPECT_EQ(inbox.waitFor(3).back(), "player:jumped");
    player->pause();
    player->setRate(1);
    player->removeEventObserver(token);
    player->seekToTime(MediaTime::zero(), zero, zero, inbox.queue, {});
    EXPECT_EQ(inbox.drain().size(), 3u);
}

TEST(MediaPlayer, TwoPlayersHandOverAtTheLoopPointWithoutGapOrRepeat) {
    Inbox inbox;
    const std::string file = PlayerFixtures::path("counter10.mp4");
    auto first = openPlayer(file);
    auto second = openPlayer(file);
    ASSERT_TRUE(first && second);
    const MediaTime in = MediaTime::make(5, 10), out = MediaTime::make(15, 10);
    ASSERT_TRUE(park(*first, inbox, in));
    ASSERT_TRUE(park(*second, inbox, in));

    // The render loop: show the current player's frame; at the out point start the parked
    // player now and park the other at the in point for the next pass.
    MediaPlayer* current = first.get();
    MediaPlayer* idle = second.get();
    std::vector<int> shown;
    MediaTime lastTime = MediaTime::invalid();
    MediaPlayer* lastPlayer = nullptr;
    int passes = 1;
    // Half speed: 200 ms a frame leaves the polling loop room on a busy machine.
    current->setRate(0.5);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        if (current->currentTime() >= out) {
            if (passes == 3) break;
            idle->setRate(0.5);
            std::swap(current, idle);
            idle->pause();
            idle->seekToTime(in, MediaTime::zero(), MediaTime::zero(), inbox.queue, {});
            idle->prerollAtRate(0.5, inbox.queue, {});
            ++passes;
        }
        MediaTime at;
        if (current->copyFrameForItemTime(current->currentTime(), &at) &&
            (at != lastTime || current != lastPlayer)) {
            shown.push_back(int(at.value * 10 / at.timescale));
            lastTime = at;
            lastPlayer = current;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::vector<int> expected;
    for (int pass = 0; pass < 3; ++pass)
        for (int frame = 5; frame < 15; ++frame) expected.push_back(frame);
    EXPECT_EQ(shown, expected);
}

TEST(MediaPlayer, HapMoviePlaysCompressedFrames) {
    Inbox inbox;
    auto player = openPlayer(MediaFixtures::path("hap.mov"));
    ASSERT_TRUE(player);
    EXPECT_TRUE(player->isHap());
    ASSERT_TRUE(park(*player, inbox, MediaTime::make(5, 25)));
    player->setRate(1);
    MediaTime at;
    const HapFrameRef frame = player->copyHapFrameForItemTime(player->currentTime(), &at);
    ASSERT_TRUE(frame);
    EXPECT_EQ(at, MediaTime::make(5, 25));
    EXPECT_EQ(frame->dxtPixelFormat(0), fourCC("DXt1"));
    EXPECT_FALSE(player->copyFrameForItemTime(player->currentTime()));
}

TEST(MediaPlayer, BadInputFailsCleanlyAndNeverHangs) {
    Inbox inbox;
    const struct {
        std::string path;
        MediaErrorCode code;
    } refused[] = {
        {MediaFixtures::folder() + "/nothing-here.mov", MediaErrorCode::FileNotFound},
        {MediaFixtures::path("notmedia.mov"), MediaErrorCode::NotMedia},
        {MediaFixtures::path("tone44k.wav"), MediaErrorCode::NoSuchTrack},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.path);
        MediaError error;
        EXPECT_FALSE(MediaPlayer::open(c.path, {}, &error));
        EXPECT_EQ(error.code, c.code);
    }
    // Damaged files open and their operations all complete.
    size_t expected = 0;
    for (const std::string& path :
         {MediaFixtures::path("damaged.mp4"), PlayerFixtures::path("hapdamaged.mov")}) {
        SCOPED_TRACE(path);
        auto player = openPlayer(path);
        ASSERT_TRUE(player);
        for (int i = 0; i < 4; ++i) {
            player->seekToTime(MediaTime::make(i, 4), MediaTime::zero(), MediaTime::zero(),
                               inbox.queue, inbox.completion("seek"));
            player->prerollAtRate(1, inbox.queue, inbox.completion("preroll"));
        }
        expected += 8;
        EXPECT_EQ(inbox.waitFor(expected).size(), expected);
    }
}
