// The engine and our mixer on the null backend, whose render cycles the tests run by hand.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioPlayerNode.h"
#include "AudioTestSupport.h"
#include "DispatchQueue.h"
#include "NullAudioBackend.h"
#include "Support/KavioAlert.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace AudioTestSupport;

namespace {

class KavioAudioEngineTest : public testing::Test {
protected:
    void SetUp() override {
        backend = std::make_shared<NullAudioBackend>();
        device = backend->addDevice("card", "Card", 0, 8);
        backend->setDefaultOutputDevice(device);
        engine = std::make_unique<KavioAudioEngine>(backend);
        KavioAlert::setAnswerer([this](const KavioAlertSpec& spec) {
            alerts.push_back(spec.messageText);
            return KavioAlertAnswer{};
        });
    }
    void TearDown() override { KavioAlert::setAnswerer({}); }

    std::vector<std::vector<float>> cycle(uint32_t frames) {
        std::vector<std::vector<float>> planes;
        EXPECT_TRUE(backend->renderCycle(frames, planes));
        return planes;
    }
    std::shared_ptr<KavioAudioPlayerNode> connected(uint32_t* busOut = nullptr) {
        auto node = std::make_shared<KavioAudioPlayerNode>();
        const uint32_t bus = engine->nextAvailableMixerInputBus();
        engine->connectNode(node, bus);
        if (busOut) *busOut = bus;
        return node;
    }

    std::shared_ptr<NullAudioBackend> backend;
    AudioDeviceID device = 0;
    std::unique_ptr<KavioAudioEngine> engine;
    std::vector<QString> alerts;
};

TEST_F(KavioAudioEngineTest, DeviceBinding) {
    EXPECT_EQ(engine->setAUDeviceID(0), KavioAudioEngine::kAudioHardwareBadDeviceError);
    EXPECT_EQ(engine->getAUDeviceID(), device);
    EXPECT_EQ(engine->setAUDeviceID(device + 50), KavioAudioEngine::kAudioHardwareBadDeviceError);
    EXPECT_EQ(engine->retryAttempts(), 1);
    EXPECT_EQ(engine->getAUDeviceID(), device);

    // A good device before any format: bound, then the alert and -50.
    const AudioDeviceID other = backend->addDevice("other", "Other", 0, 2);
    EXPECT_EQ(engine->setAUDeviceID(other), KavioAudioEngine::kAudioParamError);
    EXPECT_EQ(engine->getAUDeviceID(), other);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !alerts.empty(); }, 5));
    EXPECT_EQ(alerts.front(), "Cannot initialize audio device :-(");

    engine->setupProcessingFormatWithChannels(2, false);
    EXPECT_EQ(engine->setAUDeviceID(device), 0);
    engine->startEngine();
    EXPECT_EQ(backend->runningOutputDevice(), device);
    EXPECT_EQ(engine->setAUDeviceID(other), 0);
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(backend->runningOutputDevice(), other);
}

TEST_F(KavioAudioEngineTest, StopAndStartAreAnnouncedOnlyWhenTheyHappen) {
    PostCounter posts({KavioAudioEngine::kWillStopNotification, KavioAudioEngine::kDidStartNotification});
    engine->stopEngine();
    engine->startEngine();  // no format yet: refused
    EXPECT_FALSE(engine->isRunning());
    engine->setupProcessingFormatWithChannels(2, false);
    backend->failNextStart();
    engine->startEngine();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(posts.count(KavioAudioEngine::kDidStartNotification), 0);
    engine->startEngine();
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(posts.count(KavioAudioEngine::kDidStartNotification), 1);
    EXPECT_EQ(posts.count(KavioAudioEngine::kWillStopNotification), 0);
    engine->stopEngine();
    engine->stopEngine();
    EXPECT_EQ(posts.count(KavioAudioEngine::kWillStopNotification), 1);
}

TEST_F(KavioAudioEngineTest, ProcessingFormatLayouts) {
    EXPECT_FALSE(engine->processingFormat());
    engine->setupProcessingFormatWithChannels(2, true);
    EXPECT_EQ(engine->processingFormat()->channelCount(), 2u);
    EXPECT_EQ(engine->processingFormat()->channelLayoutTag(), 0x650002u);
    engine->setupProcessingFormatWithChannels(6, false);
    EXPECT_EQ(engine->processingFormat()->channelLayoutTag(), 0x930006u);
    EXPECT_EQ(engine->processingFormat()->sampleRate(), 48000.0);
    // A running engine's stream follows a new channel count.
    engine->startEngine();
    engine->setupProcessingFormatWithChannels(8, false);
    EXPECT_EQ(cycle(16).size(), 8u);
}

TEST_F(KavioAudioEngineTest, MixesScheduledBuffersInOrderFromTheirStartTime) {
    engine->setupProcessingFormatWithChannels(2, false);
    engine->startEngine();
    auto a = connected();
    auto b = connected();
    std::atomic<int> completed{0};
    a->scheduleBuffer(makeBuffer(2, 100, [](uint32_t c, uint32_t f) { return float(c * 1000 + f); }),
                      [&] { ++completed; });
    a->scheduleBuffer(makeBuffer(2, 100, [](uint32_t c, uint32_t f) { return float(c * 1000 + 100 + f); }),
                      [&] { ++completed; });
    b->scheduleBuffer(makeBuffer(1, 300, [](uint32_t, uint32_t) { return 0.5f; }));
    b->setVolume(2.0f);
    cycle(64);  // nothing plays yet
    EXPECT_EQ(a->lastRenderSampleTime(), 0);
    a->play(engine->sampleTime() + 10);
    b->play();
    auto planes = cycle(150);
    EXPECT_EQ(planes[0][9], 1.0f);       // b alone before a's start
    EXPECT_EQ(planes[0][10], 1.0f + 0);  // a's first frame
    EXPECT_EQ(planes[0][149], 1.0f + 139);
    EXPECT_EQ(planes[1][149], 1000.0f + 139);  // b is mono: nothing on channel 2
    engine->setOutputVolume(0.5f);
    planes = cycle(150);
    EXPECT_EQ(planes[0][0], 0.5f * (1.0f + 140));
    EXPECT_EQ(planes[0][59], 0.5f * (1.0f + 199));
    EXPECT_EQ(planes[0][60], 0.5f * 1.0f);  // a ran out
    ASSERT_TRUE(waitUntil([&] { return completed.load() == 2; }));
}

TEST_F(KavioAudioEngineTest, StopDropsScheduledBuffersWithoutTheirCompletions) {
    engine->setupProcessingFormatWithChannels(1, false);
    engine->startEngine();
    auto node = connected();
    std::atomic<int> completed{0};
    for (int i = 0; i < 3; ++i) node->scheduleBuffer(makeBuffer(1, 10, [](uint32_t, uint32_t) { return 1.0f; }),
                                                     [&] { ++completed; });
    node->play();
    cycle(15);
    node->stop();
    node->scheduleBuffer(makeBuffer(1, 10, [](uint32_t, uint32_t) { return 3.0f; }), [&] { ++completed; });
    node->play();
    auto planes = cycle(20);
    EXPECT_EQ(planes[0][0], 3.0f);
    EXPECT_EQ(planes[0][10], 0.0f);
    ASSERT_TRUE(waitUntil([&] { return completed.load() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(completed.load(), 2);
}

TEST_F(KavioAudioEngineTest, MeteringIsPostFaderPerChannel) {
    engine->setupProcessingFormatWithChannels(2, false);
    engine->startEngine();
    uint32_t bus = 0;
    auto node = connected(&bus);
    engine->enableMeteringOnBus(bus);
    node->scheduleBuffer(makeBuffer(2, 512, [](uint32_t c, uint32_t) { return c == 0 ? 1.0f : 0.0f; }));
    node->setVolume(0.5f);
    node->play();
    cycle(512);
    const std::vector<double> levels = engine->meteringDataOnBus(bus, 2);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0], 20 * std::log10(0.5), 0.01);
    EXPECT_EQ(levels[1], -120.0);
    EXPECT_TRUE(engine->meteringDataOnBus(bus, 0).empty());
    EXPECT_EQ(engine->meteringDataOnBus(bus + 1, 3).size(), 3u);
}

TEST_F(KavioAudioEngineTest, BusesRunOutAt1024AndComeBackWhenFreed) {
    std::vector<uint32_t> buses;
    for (uint32_t i = 0; i < KavioAudioEngine::kMixerInputBusCount; ++i)
        buses.push_back(engine->nextAvailableMixerInputBus());
    EXPECT_EQ(buses.back(), KavioAudioEngine::kMixerInputBusCount - 1);
    EXPECT_EQ(engine->nextAvailableMixerInputBus(), KavioAudioEngine::kNoBus);
    engine->disconnectBus(17);
    EXPECT_EQ(engine->nextAvailableMixerInputBus(), 17u);
}

}  // namespace
