// The waveform manager: the busy count from the jobs' notifications (also posted off the main
// thread), the strip's image, building state and warnings for the current cue, the shown range.

#include "Audio/KavioWaveformManager.h"
#include "Cue/KavioVideoItem.h"
#include "CueAudioFakes.h"
#include "NotificationCenter.h"

#include <QImage>

#include <gtest/gtest.h>

#include <thread>

namespace {

class RecordingStrip : public KavioWaveformViewInterface {
public:
    bool isHidden() const override { return hidden; }
    void setDisplayMin(float v) override { min = v; }
    void setDisplayMax(float v) override { max = v; }
    void setIsBuilding(bool v) override { building = v; }
    void setImage(std::shared_ptr<const QImage> v) override { image = std::move(v); }
    void setChannels(int v) override { channels = v; }
    void setShowsWarning(bool v) override { warning = v; }
    void setWarningText(const QString& v) override { text = v; }
    void setWarningType(int v) override { type = v; }
    void redraw() override { ++redraws; }

    bool hidden = false;
    float min = -1, max = -1;
    bool building = true, warning = true;
    std::shared_ptr<const QImage> image = std::make_shared<QImage>(1, 1, QImage::Format_ARGB32);
    int channels = -1, type = -1, redraws = 0;
    QString text;
};

class RecordingSpinner : public KavioWaveformProgressInterface {
public:
    void startAnimation() override { spinning = true; }
    void stopAnimation() override { spinning = false; }
    bool spinning = false;
};

class WaveformManagerTest : public testing::Test {
protected:
    void SetUp() override
    {
        manager->awakeFromNib();
        manager->setWaveformView(strip);
        manager->setProgressIndicator(spinner);
    }
    std::shared_ptr<KavioWaveformManager> manager = std::make_shared<KavioWaveformManager>();
    std::shared_ptr<RecordingStrip> strip = std::make_shared<RecordingStrip>();
    std::shared_ptr<RecordingSpinner> spinner = std::make_shared<RecordingSpinner>();
};

TEST_F(WaveformManagerTest, TheIndicatorSpinsWhileAnyJobRuns)
{
    auto& center = NotificationCenter::defaultCenter();
    // The jobs post from the waveform queue.
    auto postFromQueue = [&](const QString& name) {
        manager->waveformQueue().async([name] { NotificationCenter::defaultCenter().post(name); });
    };
    postFromQueue(KavioWaveformNotification::DidStart);
    postFromQueue(KavioWaveformNotification::DidStart);
    postFromQueue(KavioWaveformNotification::DidEnd);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return manager->waveformsInProgress() == 1; }, 30.0));
    EXPECT_TRUE(spinner->spinning);
    center.post(KavioWaveformNotification::DidEnd);
    EXPECT_EQ(manager->waveformsInProgress(), 0);
    EXPECT_FALSE(spinner->spinning);
}

TEST_F(WaveformManagerTest, TheStripShowsTheCurrentCue)
{
    manager->refreshWaveformView();  // no current cue
    EXPECT_FALSE(strip->building);
    EXPECT_FALSE(strip->warning);
    EXPECT_FALSE(strip->image);

    const auto cue = std::make_shared<KavioVideoItem>();
    cue->setMediaType(KavioMediaTypeAudio);
    const auto player = std::make_shared<RecordingAudioPlayer>();
    player->fileChannels = 2;
    cue->setAudioPlayer(player);
    cue->setIsBuildingAudioWaveform(true);
    manager->setCurrentItem(cue);
    const int redraws = strip->redraws;
    // Off the main thread the refresh is handled on the main queue.
    std::thread([] { NotificationCenter::defaultCenter().post(kKavioRefreshWaveformViewNotification); }).join();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return strip->redraws > redraws; }, 30.0));
    EXPECT_TRUE(strip->building);
    EXPECT_EQ(strip->channels, 2);
    EXPECT_FALSE(strip->image);
    EXPECT_FALSE(strip->warning);

    manager->redrawMinMaxOnWaveformWithMin(12, 300);
    EXPECT_EQ(strip->min, 12);
    EXPECT_EQ(strip->max, 300);
    strip->hidden = true;
    manager->redrawMinMaxOnWaveformWithMin(1, 2);
    EXPECT_EQ(strip->min, 12);

    manager->resetWaveformView();
    EXPECT_FALSE(strip->building);
    EXPECT_EQ(strip->channels, 1);
}

TEST_F(WaveformManagerTest, WarningsOfTheCurrentCue)
{
    // A cue whose audio could not be set up has an audio error.
    const auto controller = std::make_shared<AudioController>();
    const auto broken = std::make_shared<KavioVideoItem>();
    broken->setManager(controller);
    broken->setMediaType(KavioMediaTypeAudio);
    broken->setupAudioWithFileURL(QStringLiteral("/nonexistent/sound.wav"));
    ASSERT_TRUE(broken->hasAudioError());
    manager->setCurrentItem(broken);
    manager->refreshWaveformView();
    EXPECT_TRUE(strip->warning);
    EXPECT_EQ(strip->text, "This file has bad sections. \nPlayback is unstable.");
    EXPECT_EQ(strip->type, 0);

    const auto ndi = std::make_shared<KavioVideoItem>();
    ndi->setMediaType(KavioMediaTypeNDI);
    manager->setCurrentItem(ndi);
    NotificationCenter::defaultCenter().post(QStringLiteral("KavioHandlePlaybackStateChangeOnWaveform"));
    EXPECT_TRUE(strip->warning);
    EXPECT_EQ(strip->text, "No audio while paused. \nStart playback to play audio.");
    EXPECT_EQ(strip->type, 10);
    ndi->setIsPlaying(true);
    NotificationCenter::defaultCenter().post(QStringLiteral("KavioHandlePlaybackStateChangeOnWaveform"));
    EXPECT_FALSE(strip->warning);
}

}  // namespace
