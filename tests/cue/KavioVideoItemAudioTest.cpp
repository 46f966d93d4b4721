// A cue's audio: its player made on the engine (over the null backend), live players, the volume
// formula and routing on recording players, normalising, the transcode name and the waveform
// image, read back as pixels.

#include "Audio/AudioAnalyzer.h"
#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioPlayer.h"
#include "Controller/KavioVideoItemManager.h"
#include "CueAudioFakes.h"
#include "LavfiFiles.h"
#include "NotificationCenter.h"
#include "NullAudioBackend.h"
#include "PcmBuffer.h"
#include "UserDefaults.h"

#include <QFileInfo>
#include <QImage>
#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <future>

namespace {

class EngineEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        auto backend = std::make_shared<NullAudioBackend>();
        backend->setDefaultOutputDevice(backend->addDevice("card", "Card", 0, 8));
        AudioBackend::setShared(backend);
        KavioAudioEngine::sharedEngine().setupProcessingFormatWithChannels(8, false);
        KavioAudioEngine::sharedEngine().startEngine();
    }
};
const auto* environment = testing::AddGlobalTestEnvironment(new EngineEnvironment);

const QRgb kStroke = qRgba(122, 190, 99, 255);

// Painted pixels in rows [top, bottom) of the image.
int paintedIn(const QImage& image, int top, int bottom)
{
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) != 0;
    return count;
}

class CueAudioTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(KavioAudioEngine::sharedEngine().isRunning()); }

    std::shared_ptr<KavioVideoItem> audioCue(const std::string& path, long type = KavioMediaTypeAudio)
    {
        auto cue = std::make_shared<KavioVideoItem>();
        cue->setManager(controller);
        cue->setMediaType(int(type));
        cue->setMediaPath(QString::fromStdString(path));
        cue->setIsUsingDefaultAudioChannels(true);
        cue->setVolume(1.0f);
        cue->setFadeOpacity(1.0f);
        cue->setAudioFade(1.0f);
        cues.push_back(cue);
        return cue;
    }
    // A cue set up from its file, with its waveform drawn.
    std::shared_ptr<KavioVideoItem> drawnCue(const std::string& path)
    {
        auto cue = audioCue(path);
        cue->setupAudioWithFileURL(QString::fromStdString(path));
        EXPECT_TRUE(DispatchQueue::runMainUntil(
            [&] { return cue->audioWaveform() && !cue->isBuildingAudioWaveform() && !cue->analyzer(); }, 60.0));
        return cue;
    }
    // Holds the waveform queue until the returned promise is kept.
    std::shared_ptr<std::promise<void>> holdWaveformQueue()
    {
        auto release = std::make_shared<std::promise<void>>();
        std::promise<void> held;
        controller->queue.async([release, &held] {
            held.set_value();
            release->get_future().wait();
        });
        held.get_future().wait();
        return release;
    }
    void TearDown() override
    {
        for (const auto& cue : cues)
            if (const auto player = cue->normalAudioPlayer())
                player->removeResources();
    }

    std::shared_ptr<AudioController> controller = std::make_shared<AudioController>();
    std::vector<std::shared_ptr<KavioVideoItem>> cues;
};

std::string leftOnlyStereo()
{
    return LavfiFiles::made("leftonly.wav",
                            "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)|0:s=48000\" -t 10 -c:a pcm_s16le");
}

TEST_F(CueAudioTest, AFileCueGetsItsPlayerMeterSoundAndWaveform)
{
    AudioTestPostCounter posts;
    const auto cue = audioCue(leftOnlyStereo());
    cue->setupAudioWithFileURL(QString::fromStdString(leftOnlyStereo()));
    const auto player = std::dynamic_pointer_cast<KavioAudioPlayer>(cue->audioPlayer());
    ASSERT_TRUE(player);
    EXPECT_EQ(cue->normalAudioPlayer(), cue->audioPlayer());
    EXPECT_TRUE(player->isFilePlayer());
    EXPECT_TRUE(cue->hasAudioChannels());
    EXPECT_FALSE(cue->hasAudioError());
    EXPECT_EQ(cue->audioMeterChannels(), 6);
    EXPECT_FALSE(cue->isAudioMeterHidden());
    EXPECT_EQ(int(cue->soundButton().state), 1);
    EXPECT_FLOAT_EQ(player->volume(), 1.0f);
    EXPECT_TRUE(cue->isBuildingAudioWaveform());

    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] { return cue->audioWaveform() && !cue->isBuildingAudioWaveform() && !cue->analyzer(); }, 60.0));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return posts.ends() == 1; }, 30.0));
    EXPECT_EQ(posts.starts(), 1);
    const QImage& image = *cue->audioWaveform();
    ASSERT_EQ(image.size(), QSize(1200, 84));
    // Two lanes of 42 on a six-channel output; only the sounding left channel draws, on top.
    EXPECT_GT(paintedIn(image, 0, 42), 1000);
    EXPECT_EQ(paintedIn(image, 42, 84), 0);
    EXPECT_EQ(image.pixel(0, 21), kStroke);
}

TEST_F(CueAudioTest, OneLanePerPlayedChannel)
{
    const std::string six = LavfiFiles::lavfi("sixlanes.wav", "sine=f=300:sample_rate=48000", 4, 48000,
                                              "-af \"pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0\"");
    const auto onSix = drawnCue(six);
    ASSERT_TRUE(onSix->audioWaveform());
    for (int lane = 0; lane < 6; ++lane) {
        // Each lane's line is centred on its own middle row.
        EXPECT_EQ(onSix->audioWaveform()->pixel(0, lane * 14 + 7), kStroke) << "lane " << lane;
        EXPECT_EQ(qAlpha(onSix->audioWaveform()->pixel(0, lane * 14)), 0) << "lane " << lane;
    }
    controller->output->mapping = {1, 2};
    const auto onStereo = drawnCue(six);
    ASSERT_TRUE(onStereo->audioWaveform());
    EXPECT_EQ(onStereo->audioChannels(), 2);
    EXPECT_EQ(onStereo->audioWaveform()->pixel(0, 21), kStroke);
    EXPECT_EQ(onStereo->audioWaveform()->pixel(0, 63), kStroke);
    EXPECT_EQ(qAlpha(onStereo->audioWaveform()->pixel(0, 7)), 0);
}

TEST_F(CueAudioTest, ReplacingTheAudioReleasesTheOldPlayerAndClearsTheError)
{
    const auto cue = audioCue(leftOnlyStereo());
    cue->setIsMissing(true);  // shows the row's error button
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !cue->errorButton().hidden; }, 30.0));
    cue->setIsMissing(false);
    const auto old = std::make_shared<RecordingAudioPlayer>();
    cue->setAudioPlayer(old);
    cue->setNormalAudioPlayer(old);
    cue->replaceAudioWithFileURL(QString::fromStdString(leftOnlyStereo()));
    EXPECT_EQ(old->stops, 1);
    EXPECT_EQ(old->removals, 1);
    ASSERT_TRUE(std::dynamic_pointer_cast<KavioAudioPlayer>(cue->audioPlayer()));
    EXPECT_EQ(cue->normalAudioPlayer(), cue->audioPlayer());
    EXPECT_TRUE(DispatchQueue::runMainUntil(
        [&] { return cue->errorButton().hidden && !cue->errorButton().enabled; }, 30.0));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->audioWaveform() != nullptr; }, 30.0));
}

TEST_F(CueAudioTest, BucketResolutionFollowsTheLength)
{
    const auto cue = audioCue("/nowhere.wav");
    const auto player = std::make_shared<RecordingAudioPlayer>();
    cue->setAudioPlayer(player);
    for (const auto& [seconds, resolution] : {std::pair{10.0, 160.0f}, {19.9, 160.0f}, {20.0, 100.0f},
                                              {45.0, 60.0f}, {60.0, 30.0f}, {120.0, 30.0f}}) {
        player->length = seconds;
        EXPECT_EQ(cue->waveformBucketResolution(), resolution) << seconds << " s";
    }
}

TEST_F(CueAudioTest, LanesFromPeaksMergeCloseLinesAndRefuseNothing)
{
    const auto cue = audioCue("/nowhere.wav");
    const auto player = std::make_shared<RecordingAudioPlayer>();
    cue->setAudioPlayer(player);
    // 18.75 s: 160 buckets per second, 3000 peaks 0.4 points apart, merged in twos.
    player->length = 18.75;
    std::vector<float> peaks(3000, 0.0f);
    peaks[1] = 1.0f;    // the peak of the group at x = 0, drawn full height
    peaks[501] = 0.5f;  // the group at 500 x 0.4 = 200, half height
    const auto lane = cue->waveformFromPeaks(peaks.data(), uint32_t(peaks.size()), QSizeF(1200, 42));
    ASSERT_TRUE(lane);
    EXPECT_EQ(lane->pixel(0, 0), kStroke);
    EXPECT_EQ(lane->pixel(0, 41), kStroke);
    EXPECT_EQ(lane->pixel(200, 21), kStroke);
    EXPECT_EQ(qAlpha(lane->pixel(200, 2)), 0);
    EXPECT_EQ(paintedIn(*lane, 0, 42), 42 + 22);  // nothing else: silent buckets draw nothing

    EXPECT_FALSE(cue->waveformFromPeaks(peaks.data(), 0, QSizeF(1200, 42)));  // no peaks
    player->length = 0;  // no length: the grouping could never end
    EXPECT_FALSE(cue->waveformFromPeaks(peaks.data(), 3000, QSizeF(1200, 42)));
    cue->setAudioPlayer(nullptr);
    EXPECT_FALSE(cue->waveformFromPeaks(peaks.data(), 3000, QSizeF(1200, 42)));
}

TEST_F(CueAudioTest, NoPlayerWithoutOutputOrReadableFile)
{
    const std::string file = leftOnlyStereo();
    {
        controller->withOutput = false;
        const auto cue = audioCue(file);
        cue->setupAudioWithFileURL(QString::fromStdString(file));
        EXPECT_FALSE(cue->audioPlayer());
        controller->withOutput = true;
    }
    {
        controller->output->noDevice = true;
        const auto cue = audioCue(file);
        cue->setupAudioWithFileURL(QString::fromStdString(file));
        EXPECT_FALSE(cue->audioPlayer());
        EXPECT_FALSE(cue->hasAudioError());
        controller->output->noDevice = false;
    }
    {
        const auto cue = audioCue(file);
        cue->setIsMissing(true);
        cue->setupAudioWithFileURL(QString::fromStdString(file));
        EXPECT_FALSE(cue->audioPlayer());
    }
    const std::string unreadable = MediaFixtures::path("notmedia.mov");
    const auto cue = audioCue(unreadable);
    cue->setupAudioWithFileURL(QString::fromStdString(unreadable));
    EXPECT_FALSE(cue->audioPlayer());
    EXPECT_FALSE(cue->hasAudioChannels());
    EXPECT_TRUE(cue->hasAudioError());
    EXPECT_TRUE(cue->isAudioMeterHidden());
    cue->receivedAudioPCMBuffer(std::make_shared<PcmBuffer>(PcmFormat(48000, 2), 64));  // dropped
    cue->normalizeAudioVolume();
    EXPECT_FALSE(cue->analyzer());
}

TEST_F(CueAudioTest, LiveCuesGetAPushedBufferPlayerAndNoWaveform)
{
    AudioTestPostCounter posts;
    controller->output->mapping = {1, 2, 0, 0};
    for (const long type : {long(KavioMediaTypeCamera), long(KavioMediaTypeNDI)}) {
        const auto cue = audioCue("Some Source", type);
        cue->setupAudioWithFileURL(QString());
        const auto player = std::dynamic_pointer_cast<KavioAudioPlayer>(cue->audioPlayer());
        ASSERT_TRUE(player) << type;
        EXPECT_FALSE(player->isFilePlayer());
        EXPECT_EQ(player->deviceChannels(), 4);
        EXPECT_EQ(cue->audioMeterChannels(), 4);
        EXPECT_FALSE(cue->isBuildingAudioWaveform());
        EXPECT_FALSE(cue->analyzer());
    }
    EXPECT_EQ(posts.starts(), 0);
}

TEST_F(CueAudioTest, TheVolumeFormula)
{
    struct Case {
        const char* what;
        int sound;
        float cueVolume, main, master, opacity, audioFade;
        bool disabled;
        float expected;
    };
    const Case cases[] = {
        {"sound off", 0, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, false, 0.0f},
        {"cue 0.5 x main 0.8 x master 1", 1, 0.5f, 0.8f, 1.0f, 1.0f, 1.0f, false, 0.4f},
        {"half-way through a fade-in", 1, 0.5f, 0.8f, 1.0f, 0.5f, 1.0f, false, 0.2f},
        {"audio fade and master fader", 1, 1.0f, 1.0f, 0.5f, 1.0f, 0.5f, false, 0.25f},
        {"output disabled", 1, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, true, 0.0f},
        {"a normalised gain above unity", 1, 3.98f, 1.0f, 1.0f, 1.0f, 1.0f, false, 1.0f},
    };
    for (const Case& c : cases) {
        const auto cue = audioCue("/nowhere.wav");
        const auto player = std::make_shared<RecordingAudioPlayer>();
        cue->setAudioPlayer(player);
        cue->setNormalAudioPlayer(player);
        cue->soundButton().state = c.sound;
        cue->setVolume(c.cueVolume);
        controller->output->main = c.main;
        controller->masterFader = c.master;
        cue->setFadeOpacity(c.opacity);
        cue->setAudioFade(c.audioFade);
        controller->output->disabled = c.disabled;
        cue->volumeChanged();
        EXPECT_FLOAT_EQ(player->gain, c.expected) << c.what;
        EXPECT_EQ(player->kindChecks, 1) << c.what;
        EXPECT_FLOAT_EQ(cue->volume(), c.cueVolume) << c.what;  // the cue keeps its own value
    }
}

TEST_F(CueAudioTest, DuringALoopingCuesTransitionTheWaitingPlayerTakesTheVolume)
{
    const auto cue = audioCue("/nowhere.wav");
    const auto normal = std::make_shared<RecordingAudioPlayer>();
    const auto helper = std::make_shared<RecordingAudioPlayer>();
    cue->setNormalAudioPlayer(normal);
    cue->setLoopHelperAudioPlayer(helper);
    cue->soundButton().state = 1;
    cue->setVolume(0.5f);
    cue->setShouldOperateWithTransitionHelper(true);
    for (const auto& [current, waiting] : {std::pair{normal, helper}, {helper, normal}}) {
        current->volumes.clear();
        waiting->volumes.clear();
        cue->setAudioPlayer(current);
        cue->volumeChanged();
        EXPECT_TRUE(current->volumes.empty());
        EXPECT_EQ(waiting->volumes, std::vector<float>{0.5f});
    }
    EXPECT_EQ(normal->kindChecks, 2);
    EXPECT_EQ(helper->kindChecks, 2);
}

TEST_F(CueAudioTest, RoutingFollowsTheOutput)
{
    const auto routed = [&](bool ownRouting) {
        const auto cue = audioCue("/nowhere.wav");
        const auto normal = std::make_shared<RecordingAudioPlayer>();
        const auto helper = std::make_shared<RecordingAudioPlayer>();
        cue->setAudioPlayer(normal);
        cue->setNormalAudioPlayer(normal);
        cue->setLoopHelperAudioPlayer(helper);
        cue->setIsUsingDefaultAudioChannels(!ownRouting);
        cue->soundButton().state = 1;
        return std::tuple{cue, normal, helper};
    };
    const auto [cue, normal, helper] = routed(false);
    const auto [own, ownNormal, ownHelper] = routed(true);
    ownNormal->mapping = {2, 1};
    const int unsaved = controller->unsavedChangesCount;
    const QVariantMap info{{KavioAudioNotification::ChannelMappingKey, QVariantList{1, 2, 0, 0, 0, 0, 0, 0}}};
    for (const auto& each : {cue, own})
        each->audioChannelsChanged(info);
    EXPECT_EQ(normal->mapping, (QList<int>{1, 2, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(helper->mapping, (QList<int>{1, 2, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(normal->channels, 8);
    EXPECT_EQ(ownNormal->mapping, (QList<int>{2, 1}));
    // The volume is sent again from zero, so the player cannot skip it as unchanged.
    EXPECT_EQ(normal->volumes, (std::vector<float>{0.0f, 1.0f}));
    EXPECT_EQ(controller->unsavedChangesCount, unsaved + 2);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->audioMeterChannels() == 8; }, 30.0));

    controller->output->mapping = {2, 1, 1};
    for (const auto& each : {cue, own})
        each->audioOutputRoutingChangedGlobally();
    EXPECT_EQ(normal->mapping, (QList<int>{2, 1, 1}));
    EXPECT_EQ(helper->channels, 3);
    EXPECT_EQ(ownNormal->mapping, (QList<int>{2, 1}));
    cue->setChannelMappingForPlayers({3});
    EXPECT_EQ(normal->mapping, QList<int>{3});
    EXPECT_EQ(normal->channels, 3);
}

TEST_F(CueAudioTest, DelayAndLiveBuffersReachTheCurrentPlayer)
{
    const auto cue = audioCue("Source", KavioMediaTypeNDI);
    const auto player = std::make_shared<RecordingAudioPlayer>();
    cue->setAudioPlayer(player);
    controller->output->delay = 120;
    cue->audioDelayChanged();
    EXPECT_EQ(player->delay, 120);
    const auto buffer = std::make_shared<const PcmBuffer>(PcmFormat(48000, 2), 64);
    cue->receivedAudioPCMBuffer(buffer);
    ASSERT_EQ(player->buffers.size(), 1u);
    EXPECT_EQ(player->buffers[0], buffer);
}

std::string minus24()
{
    // A sine of amplitude 10^(-24/20) measures -24 dBFS (+3.0 over its RMS of amplitude / sqrt 2).
    return LavfiFiles::made("minus24.wav",
                            "-f lavfi -i \"aevalsrc=0.0630957*sin(2*PI*500*t)|0.0630957*sin(2*PI*500*t):s=48000\" "
                            "-t 3 -c:a pcm_s24le");
}

TEST_F(CueAudioTest, NormalisingOnceAfterTheFirstAnalysisWhenTheDefaultAsks)
{
    UserDefaults::standardUserDefaults().setBool(true, QStringLiteral("audioVolumeNormalization"));
    const auto cue = audioCue(minus24());
    UserDefaults::standardUserDefaults().setBool(false, QStringLiteral("audioVolumeNormalization"));
    ASSERT_TRUE(cue->shouldsetvolumetorms());
    cue->setupAudioWithFileURL(QString::fromStdString(minus24()));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->audioWaveform() && !cue->analyzer(); }, 60.0));
    EXPECT_NEAR(cue->volume(), 1.995f, 0.01f);
    EXPECT_FALSE(cue->shouldsetvolumetorms());
    // The player is never driven above unity.
    EXPECT_FLOAT_EQ(cue->audioPlayer()->volume(), 1.0f);
}

TEST_F(CueAudioTest, NormalisingWhileAnalysingIsDroppedAndAfterwardsAnalysesAgain)
{
    const auto cue = drawnCue(minus24());
    EXPECT_FLOAT_EQ(cue->volume(), 1.0f);

    const auto release = holdWaveformQueue();
    cue->normalizeAudioVolume();  // no analysis left: a new one, normalising when it ends
    ASSERT_TRUE(cue->analyzer());
    EXPECT_TRUE(cue->shouldsetvolumetorms());
    cue->normalizeAudioVolume();  // while it runs: dropped
    EXPECT_FLOAT_EQ(cue->volume(), 1.0f);
    release->set_value();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->audioWaveform() && !cue->analyzer(); }, 60.0));
    EXPECT_NEAR(cue->volume(), 1.995f, 0.01f);

    controller->items.push_back(cue);
    cue->normalizeAudioOnSelectedItemsFromUI();
    EXPECT_TRUE(cue->isSelected());
    EXPECT_EQ(controller->normaliseRequests, 1);
}

TEST_F(CueAudioTest, ACancelledAnalysisLeavesNoImageAndStopsBuilding)
{
    const auto cue = audioCue(leftOnlyStereo());
    const auto release = holdWaveformQueue();
    AudioTestPostCounter posts;
    cue->setupAudioWithFileURL(QString::fromStdString(leftOnlyStereo()));
    ASSERT_TRUE(cue->analyzer());
    cue->analyzer()->setIsCancelled(true);
    release->set_value();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return posts.ends() == 1 && !cue->isBuildingAudioWaveform(); }, 60.0));
    EXPECT_FALSE(cue->audioWaveform());
    EXPECT_FALSE(cue->analyzer());
}

TEST_F(CueAudioTest, TheTranscodeTargetNamesOneFileOfTheDay)
{
    QTemporaryDir dir;
    const QString path = makeEmptyFile(dir, QStringLiteral("Intro Theme.wav"));
    const auto cue = audioCue(path.toStdString());
    const QLocale previous;
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    const QString target = cue->audioTranscodeURL();
    cue->transcodeAudio();
    QLocale::setDefault(previous);
    QString day = QLocale(QStringLiteral("en_US")).toString(QFileInfo(path).lastModified().date(), QLocale::ShortFormat);
    day.replace('/', '-');
    EXPECT_EQ(target, KavioVideoItemManager::transcodedVideosDir() + "/Intro Theme-" + day + ".m4a");
    EXPECT_EQ(QFileInfo(target).path(), KavioVideoItemManager::transcodedVideosDir());

    EXPECT_EQ(controller->transcodes, QStringList{target});
}

}  // namespace
