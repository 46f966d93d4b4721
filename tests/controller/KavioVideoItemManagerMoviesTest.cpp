// Jumps and locates over real movie cues: two copies of the bar-coded test movie laid end to end
// on the controller's clock, each picture read back from the cue's player.

#include "ControllerFakes.h"
#include "MediaFixtures.h"

#include "MediaPlayer.h"

#include <gtest/gtest.h>

namespace {

struct MovieShow : ControllerFixture {
    std::vector<std::shared_ptr<KavioVideoItem>> cues;
    MovieShow()
    {
        connected();
        controller->masterClock()->setSmpteFormat(QVTClockSMPTEFormat25);
        const auto path = QString::fromStdString(MediaFixtures::path("counter25.mp4"));
        for (int i = 1; i <= 2; ++i) {
            auto cue = std::make_shared<KavioVideoItem>([](const QVTOSCMessage&) {});
            EXPECT_TRUE(cue->initMovieCue(path, controller, {}));
            EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
            cue->setUid(QStringLiteral("m%1").arg(i));
            controller->insertItem(cue, std::uint64_t(i));
            cues.push_back(cue);
        }
        controller->buildItemQueue();
        controller->setCurrentItem(cues[0]);
        cues[0]->markAsCurrent(true);
        // Jumps open once set-up has ended; the end of a temporary stop opens them the same way.
        controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});
        settle();
    }
    ~MovieShow()
    {
        controller->setCurrentItem(nullptr);
        settle();
    }
    static void settle() { DispatchQueue::runMainUntil([] { return false; }, 0.2); }
    // The bar code of the picture the cue shows once it shows `expected`, or the last one seen when
    // it never does: seeks and frame delivery are asynchronous and a loaded machine is slow.
    static int frameShown(const KavioVideoItem& cue, int expected)
    {
        int number = -1;
        DispatchQueue::runMainUntil(
            [&] {
                // What the composition would draw now: the cue's own frame supply.
                auto& shown = const_cast<KavioVideoItem&>(cue);
                std::shared_ptr<const VideoFrame> frame;
                shown.pixelBufferQueue().sync([&] { frame = shown.pixelBufferCopy(); });
                number = frame ? MediaFixtures::frameNumberOf(*frame) : -1;
                return !cue.isSeeking() && number == expected;
            },
            30.0);
        return number;
    }
    QString clockOnceAt(const QString& expected) const
    {
        DispatchQueue::runMainUntil([&] { return controller->masterClock()->clockSMPTETime() == expected; }, 30.0);
        return controller->masterClock()->clockSMPTETime();
    }
};

TEST(KavioVideoItemManagerMovies, ALocateIntoTheSecondCueShowsThatTimesFrameAndAJumpBackItsFirst)
{
    MovieShow show;
    const auto first = show.cues[0], second = show.cues[1];
    ASSERT_EQ(second->originalItemStartSMPTETime(), QStringLiteral("00:00:02:00"));
    show.controller->seekToSMPTETime(QStringLiteral("00:00:02:12"));
    show.settle();
    EXPECT_EQ(show.controller->currentItem(), second);
    EXPECT_EQ(show.clockOnceAt(QStringLiteral("00:00:02:12")), QStringLiteral("00:00:02:12"));
    EXPECT_EQ(MovieShow::frameShown(*second, 12), 12);

    // GO on the first cue, stopped: it is current again from its first frame, and play is pressed.
    show.log.take();
    show.controller->jumpToAndPlayItem(first);
    show.settle();
    EXPECT_EQ(show.controller->currentItem(), first);
    EXPECT_EQ(MovieShow::frameShown(*first, 0), 0);
    EXPECT_EQ(MovieShow::frameShown(*second, 0), 0);
    EXPECT_TRUE(show.log.take().contains("app.togglePlay"));
    EXPECT_EQ(show.clockOnceAt(QStringLiteral("00:00:00:00")), QStringLiteral("00:00:00:00"));
}

}  // namespace
