// The cue audio player on the shared engine over the null backend (render cycles run by hand)
// and the shared streamers manager with one streamer, fed with files made by the test.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioPlayer.h"
#include "Audio/KavioAudioPlayerNode.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "AudioPlayerFakes.h"
#include "AudioTestSupport.h"
#include "DispatchQueue.h"
#include "MediaFixtures.h"
#include "NullAudioBackend.h"
#include "QVTAudioStreamer.h"
#include "UserDefaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace AudioTestSupport;

namespace {

std::shared_ptr<NullAudioBackend> nullBackend;

class AudioEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
        nullBackend = std::make_shared<NullAudioBackend>();
        nullBackend->setDefaultOutputDevice(nullBackend->addDevice("card", "Card", 0, 8));
        AudioBackend::setShared(nullBackend);
    }
    QTemporaryDir config;
};
const auto* environment = testing::AddGlobalTestEnvironment(new AudioEnvironment);

bool makeMono(const std::string& name) {
    return MediaFixtures::ffmpeg("-f lavfi -i \"aevalsrc=0.25:s=48000:d=1:c=mono\" -c:a pcm_s16le " + name);
}

// Frame number carried by six.wav's first two channels.
int counterAt(const std::vector<std::vector<float>>& planes, size_t frame) {
    return int(std::lround(planes[1][frame] * 32768.0f)) * 32000 + int(std::lround(planes[0][frame] * 32768.0f));
}

class KavioAudioPlayerTest : public testing::Test {
protected:
    void SetUp() override {
        engine().setupProcessingFormatWithChannels(8, false);
        engine().startEngine();
        ASSERT_TRUE(engine().isRunning());
        KavioAudioStreamersManager::sharedManager().setChannelCount(8);
        KavioAudioStreamersManager::sharedManager().createAudioStreamerWithUUID("out");
        cue = std::make_shared<FakeCue>();
    }
    void TearDown() override {
        if (player) player->removeResources();
        KavioAudioStreamersManager::sharedManager().removeStreamerWithUUID("out");
        engine().setOutputVolume(1.0f);
        UserDefaults::standardUserDefaults().removeObjectForKey(QStringLiteral("extendMonoFilesPopup"));
    }
    static KavioAudioEngine& engine() { return KavioAudioEngine::sharedEngine(); }
    static std::shared_ptr<QVTAudioStreamer> streamer() {
        return KavioAudioStreamersManager::sharedManager().streamerWithUUID("out");
    }
    std::shared_ptr<KavioAudioPlayer> filePlayer(const std::string& fixture, QList<int> mapping = {1, 2, 3, 4, 5, 6, 7, 8},
                                                 int delay = 0) {
        const std::string path = fixture == "mono.wav" ? MediaFixtures::madePath(fixture, makeMono)
                                                       : MediaFixtures::path(fixture);
        return KavioAudioPlayer::initWithFileURL(QString::fromStdString(path), mapping, 8, delay, cue, 48000);
    }
    std::vector<std::vector<float>> cycle(uint32_t frames) {
        std::vector<std::vector<float>> planes;
        EXPECT_TRUE(nullBackend->renderCycle(frames, planes));
        return planes;
    }

    std::shared_ptr<FakeCue> cue;
    std::shared_ptr<KavioAudioPlayer> player;
};

TEST_F(KavioAudioPlayerTest, CreationQueuesSixBuffersFromTheCuesTime) {
    cue->time = 0.5;
    player = filePlayer("six.wav");
    ASSERT_TRUE(player);
    EXPECT_EQ(player->audioChannels(), 6);
    EXPECT_NEAR(player->duration(), 2.0, 1e-3);
    EXPECT_EQ(player->preloadedBufferCount(), 6u);
    EXPECT_EQ(player->startPosition(), 24000 + 6 * int64_t(KavioAudioPlayer::kBufferFrames));
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(KavioAudioPlayerTest, FilesWithoutAudioMakeNoPlayer) {
    for (const char* name : {"counter2997.mov", "notmedia.mov"}) {
        EXPECT_FALSE(filePlayer(name)) << name;
    }
    EXPECT_FALSE(KavioAudioPlayer::initWithFileURL("/nonexistent.wav", {}, 2, 0, cue, 48000));
}

// Half a second of stereo, then half a second of mono: the reader of the stereo stream fails
// from where the mono part starts.
bool makeChannelChange(const std::string& name) {
    return MediaFixtures::ffmpeg("-f lavfi -i \"sine=f=440:r=48000:d=0.5\" -ac 2 -c:a aac -f adts stereo-part.aac") &&
           MediaFixtures::ffmpeg("-f lavfi -i \"sine=f=440:r=48000:d=0.5\" -ac 1 -c:a aac -f adts mono-part.aac") &&
           MediaFixtures::ffmpeg("-i \"concat:stereo-part.aac|mono-part.aac\" -c copy -f adts " + name);
}

TEST_F(KavioAudioPlayerTest, ReadingThatFailsFromTheStartGivesSilenceAndStopsAfterThreeFailures) {
    cue->time = 0.75;
    player = KavioAudioPlayer::initWithFileURL(
        QString::fromStdString(MediaFixtures::madePath("channelchange.aac", makeChannelChange)), {1, 2}, 8, 0, cue,
        48000);
    ASSERT_TRUE(player);
    // Two failures give a buffer of silence each, 4096 frames as no buffer came before; the
    // third stops the reading for good.
    EXPECT_EQ(player->preloadedBufferCount(), 2u);
    const int64_t start = int64_t(0.75 / player->duration() * double(int64_t(player->duration() * 48000)));
    EXPECT_EQ(player->startPosition(), start + 2 * int64_t(KavioAudioPlayer::kFailureSilenceFrames));
    player->setVolume(1.0f);
    player->startPlayback();
    const auto planes = cycle(4 * KavioAudioPlayer::kFailureSilenceFrames);
    for (const auto& plane : planes)
        EXPECT_TRUE(std::all_of(plane.begin(), plane.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(KavioAudioPlayerTest, MonoSpreadFollowsTheTag) {
    struct Case {
        int tag;
        QList<int> expected;
    };
    for (const Case& c : {Case{20, {1, 1, 1, 1, 1, 1, 1, 1}}, Case{10, {1, 1, 0, 0, 0, 0, 0, 0}},
                          Case{0, {1, 0, 0, 0, 0, 0, 0, 0}}}) {
        UserDefaults::standardUserDefaults().setInteger(c.tag, QStringLiteral("extendMonoFilesPopup"));
        auto mono = filePlayer("mono.wav", {1, 2, 3, 4, 5, 6, 7, 8});
        ASSERT_TRUE(mono);
        EXPECT_EQ(mono->channelMapping(), c.expected) << "tag " << c.tag;
        mono->setVolume(1.0f);
        mono->startPlayback();
        const auto planes = cycle(256);
        for (int out = 0; out < 8; ++out)
            EXPECT_EQ(planes[size_t(out)][100], c.expected[out] ? 0.25f : 0.0f) << "tag " << c.tag << " out " << out;
        mono->removeResources();
    }
}

TEST_F(KavioAudioPlayerTest, RoutingKeepsOnlyChannelsThatExist) {
    player = filePlayer("six.wav", {3, 9, -1});
    ASSERT_TRUE(player);
    // Entries beyond the file's channels become 0; missing entries take the default; negative
    // entries stay but route nothing.
    EXPECT_EQ(player->channelMapping(), (QList<int>{3, 0, -1, 4, 5, 6, 0, 0}));
    player->setOutputChannelMapping({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 4);
    EXPECT_EQ(player->channelMapping(), (QList<int>{1, 2, 3, 4}));
    EXPECT_EQ(streamer()->channelMappingA(), (std::vector<int>{1, 2, 3, 4}));
    cue->current = false;
    player->setOutputChannelMapping({}, 2);
    EXPECT_EQ(streamer()->channelMappingB(), (std::vector<int>{1, 2}));
}

TEST_F(KavioAudioPlayerTest, RoutedChannelsPlayOnTheirOutputs) {
    player = filePlayer("six.wav", {3, 4, 5, 6, 0, 0, 1, 2});
    ASSERT_TRUE(player);
    player->setVolume(1.0f);
    player->startPlayback();
    const auto planes = cycle(1000);
    const float expected[8] = {0.3f, 0.4f, 0.5f, 0.6f, 0, 0};
    for (int out = 0; out < 6; ++out) EXPECT_NEAR(planes[size_t(out)][500], expected[out], 1e-4) << out;
    EXPECT_EQ(int(std::lround(planes[6][500] * 32768)), 500);
}

TEST_F(KavioAudioPlayerTest, RateChangesBufferLengths) {
    auto ramp = makeBuffer(2, 100, [](uint32_t c, uint32_t f) { return float(c * 1000 + f); });
    struct Case {
        float rate;
        uint32_t frames;
    };
    for (const Case& c : {Case{0.5f, 200}, Case{2.0f, 50}, Case{1.0f, 100}, Case{3.0f, 33}})
        EXPECT_EQ(KavioAudioPlayer::changePlaybackRateOfBuffer(*ramp, c.rate)->frameLength(), c.frames) << c.rate;
    auto faster = KavioAudioPlayer::changePlaybackRateOfBuffer(*ramp, 2.0f);
    EXPECT_EQ(faster->floatChannelData(1)[10], 1020.0f);
    auto slower = KavioAudioPlayer::changePlaybackRateOfBuffer(*ramp, 0.5f);
    EXPECT_EQ(slower->floatChannelData(0)[21], 10.5f);
    EXPECT_EQ(slower->floatChannelData(0)[199], 98.0f);  // held at L - 2
    auto one = makeBuffer(1, 1, [](uint32_t, uint32_t) { return 7.0f; });
    auto repeated = KavioAudioPlayer::changePlaybackRateOfBuffer(*one, 0.25f);
    ASSERT_EQ(repeated->frameLength(), 4u);
    EXPECT_EQ(repeated->floatChannelData(0)[3], 7.0f);
    auto none = makeBuffer(1, 1, [](uint32_t, uint32_t) { return 7.0f; });
    none->setFrameLength(0);
    EXPECT_EQ(KavioAudioPlayer::changePlaybackRateOfBuffer(*none, 0.5f)->frameLength(), 0u);

    player = filePlayer("six.wav");
    ASSERT_TRUE(player);
    for (float refused : {0.0f, -1.0f, std::nanf("")}) {
        player->setRate(refused);
        EXPECT_EQ(player->rate(), 1.0f);
    }
    player->setRate(2.0f);
    EXPECT_EQ(player->rate(), 2.0f);
    EXPECT_EQ(player->preloadedBufferCount(), 0u);
    cue->time = 0.5;
    player->setCurrentTime(0.5);
    player->setVolume(1.0f);
    player->startPlayback();
    const auto planes = cycle(100);
    EXPECT_EQ(counterAt(planes, 0), 24000);
    EXPECT_EQ(counterAt(planes, 10), 24020);
}

TEST_F(KavioAudioPlayerTest, SeeksLandOnTheirFrame) {
    player = filePlayer("six.wav");
    ASSERT_TRUE(player);
    player->setCurrentTime(1.5);
    const int64_t afterSeek = player->startPosition();
    EXPECT_EQ(afterSeek, 96000);  // three reads from frame 72000 reach the end
    for (double ignored : {1.5005, 1.4995, -1.0, std::nan("")}) {
        player->setCurrentTime(ignored);
        EXPECT_EQ(player->startPosition(), afterSeek) << ignored;
    }
    player->setVolume(1.0f);
    player->startPlayback();
    EXPECT_EQ(counterAt(cycle(64), 0), 72000);
    // Seeking while playing plays on from the new time.
    cue->time = 0.25;
    player->play();
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(counterAt(cycle(64), 0), 12000);
}

TEST_F(KavioAudioPlayerTest, DelayHoldsBackNodeAndStreamers) {
    player = filePlayer("six.wav", {1, 2, 3, 4, 5, 6, 7, 8}, 250);
    ASSERT_TRUE(player);
    player->setVolume(1.0f);
    cycle(480);
    const int64_t lastRender = player->playerNode().lastRenderSampleTime();
    player->startPlayback();
    EXPECT_EQ(player->playerNode().startSampleTime(), lastRender + 12000);
    float* pulled = streamer()->audioDataWithNumberOfFrames(12010, 8);
    ASSERT_TRUE(pulled);
    EXPECT_EQ(pulled[11999], 0.0f);
    EXPECT_EQ(int(std::lround(pulled[12005] * 32768)), 5);
    std::free(pulled);
    const auto planes = cycle(12480);
    // This cycle starts at lastRender + 480: the node starts 11520 frames into it.
    EXPECT_EQ(planes[0][11519], 0.0f);
    EXPECT_EQ(counterAt(planes, 11520), 0);
    EXPECT_EQ(counterAt(planes, 12000 - 480 + 7), 7);
}

TEST_F(KavioAudioPlayerTest, DelaysOutOfRangeAreClamped) {
    struct Case {
        int delay;
        int64_t startOffset;  // -1: at once
    };
    for (const Case& c : {Case{-50, -1}, Case{0, -1}, Case{10'000'000, 60 * 48000}}) {
        auto delayed = filePlayer("six.wav", {1, 2}, c.delay);
        ASSERT_TRUE(delayed);
        const int64_t lastRender = delayed->playerNode().lastRenderSampleTime();
        delayed->startPlayback();
        if (c.startOffset < 0)
            EXPECT_EQ(delayed->playerNode().startSampleTime(), KavioAudioPlayerNode::kNow) << c.delay;
        else
            EXPECT_EQ(delayed->playerNode().startSampleTime(), lastRender + c.startOffset) << c.delay;
        delayed->removeResources();
    }
}

TEST_F(KavioAudioPlayerTest, KindTenMutesOnlyTheDevice) {
    cue->settings->kind = 10;
    player = filePlayer("six.wav");
    ASSERT_TRUE(player);
    player->setVolume(0.7f);
    EXPECT_EQ(engine().outputVolume(), 0.0f);
    EXPECT_FLOAT_EQ(float(KavioAudioStreamersManager::sharedManager().volumeA()), 0.7f);
    cue->settings->kind = 30;
    player->setVolume(0.7f);
    EXPECT_EQ(engine().outputVolume(), 1.0f);
    cue->settings->disabled = true;
    player->checkForAudioKindChanged();
    EXPECT_EQ(engine().outputVolume(), 0.0f);
}

TEST_F(KavioAudioPlayerTest, EngineRestartResumesAtTheCuesTime) {
    player = filePlayer("six.wav");
    ASSERT_TRUE(player);
    player->setVolume(1.0f);
    player->startPlayback();
    cycle(4800);
    cue->time = 1.5;
    engine().stopEngine();
    EXPECT_FALSE(player->isPlaying());
    engine().startEngine();
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(counterAt(cycle(64), 0), 72000);
}

TEST_F(KavioAudioPlayerTest, LiveFormatChangeReconnectsOnce) {
    player = KavioAudioPlayer::initWithDeviceChannels(8, {}, 8, 0, cue, 48000);
    ASSERT_TRUE(player);
    player->setVolume(1.0f);
    player->scheduleBuffer(makeBuffer(2, 64, [](uint32_t, uint32_t) { return 1.0f; }));  // not playing: ignored
    player->startPlayback();
    for (int i = 0; i < 2; ++i)
        player->scheduleBuffer(makeBuffer(2, 64, [](uint32_t c, uint32_t) { return c ? 0.5f : 1.0f; }));
    player->scheduleBuffer(makeBuffer(2, 0, [](uint32_t, uint32_t) { return 1.0f; }));
    EXPECT_EQ(cue->defaultMappingResets, 1);
    EXPECT_EQ(player->audioChannels(), 2);
    const auto planes = cycle(128);
    EXPECT_EQ(planes[0][127], 1.0f);
    EXPECT_EQ(planes[1][127], 0.5f);
}

TEST_F(KavioAudioPlayerTest, NoPlayerWithoutAFreeBus) {
    std::vector<uint32_t> taken;
    for (uint32_t bus; (bus = engine().nextAvailableMixerInputBus()) != KavioAudioEngine::kNoBus;) taken.push_back(bus);
    EXPECT_FALSE(KavioAudioPlayer::initWithDeviceChannels(2, {}, 2, 0, cue, 48000));
    for (uint32_t bus : taken) engine().disconnectBus(bus);
}

}  // namespace
