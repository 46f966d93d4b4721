#include "SourcesTestSupport.h"

#include "../cue/CueTestSupport.h"
#include "Sources/KavioCamera.h"
#include "Sources/KavioCameraManager.h"
#include "CaptureDevice.h"
#include "NotificationCenter.h"
#include "PcmBuffer.h"
#include "TestPatternCaptureBackend.h"

#include <QDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double kTimeout = 30.0;

std::uint32_t code(const char (&c)[5])
{
    return std::uint32_t(std::uint8_t(c[0])) << 24 | std::uint32_t(std::uint8_t(c[1])) << 16 |
           std::uint32_t(std::uint8_t(c[2])) << 8 | std::uint32_t(std::uint8_t(c[3]));
}

struct CameraManagerTest : ::testing::Test {
    std::shared_ptr<FakeDeckLinkBrowser> deckLink = std::make_shared<FakeDeckLinkBrowser>();
    std::shared_ptr<KavioCameraManager> manager =
        std::make_shared<KavioCameraManager>(CaptureService::shared(), deckLink);
    std::shared_ptr<KavioVideoItem> cueA = std::make_shared<KavioVideoItem>();
    std::shared_ptr<KavioVideoItem> cueB = std::make_shared<KavioVideoItem>();

    VideoFrameRef waitForPrimary()
    {
        VideoFrameRef frame;
        DispatchQueue::runMainUntil([&] { return (frame = manager->videoSampleBufferCopy()) != nullptr; }, kTimeout);
        return frame;
    }
};

TEST_F(CameraManagerTest, CuesShareACameraThatGoesWithItsLastClient)
{
    manager->startCaptureWithDevice("Red", cueA, TestPatternCaptureBackend::uidForName("Red"));
    manager->startCaptureWithDevice("Red", cueB, TestPatternCaptureBackend::uidForName("Red"));
    manager->startCaptureWithDevice("Red", cueB, TestPatternCaptureBackend::uidForName("Red"));
    EXPECT_EQ(manager->deviceCount(), 1u);
    KavioCamera* camera = manager->findCameraWithUID(TestPatternCaptureBackend::uidForName("Red"), "Red");
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->connectedClients().size(), 2u);

    // A UID of no camera falls back to the name; neither finds nothing.
    EXPECT_EQ(manager->findCameraWithUID("usb-0000:00:14.0-9", "Red"), camera);
    EXPECT_EQ(manager->findCameraWithUID(QString(), QString()), nullptr);

    manager->removeItem(cueA.get(), "Red", QString());
    EXPECT_EQ(manager->deviceCount(), 1u);
    manager->removeItem(cueB.get(), "Red", QString());
    EXPECT_EQ(manager->deviceCount(), 0u);
    EXPECT_EQ(manager->findCameraWithUID(QString(), "Red"), nullptr);
}

TEST_F(CameraManagerTest, SlotsHandOutSharedReferencesToTheNewestFrame)
{
    EXPECT_EQ(manager->videoSampleBufferCopy(), nullptr) << "no frame before a device delivers";
    manager->startCaptureWithDevice("Red", cueA, QString());
    manager->setCurrentDevice("Red", QString());
    manager->setSecondaryDevice("Red", QString());

    const VideoFrameRef first = waitForPrimary();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->pixelFormat(), MediaPixelFormat::YUV422_8);
    EXPECT_EQ(first->width(), 64);
    EXPECT_TRUE(isNear(colorOf2vuy(first->data()), Qt::red)) << colorOf2vuy(first->data()).name().toStdString();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return manager->videoSampleBufferSecondary() != nullptr; }, kTimeout))
        << "one device fills both slots";

    // Each pull is a new reference to the same pixels; the manager drops its previous one.
    std::weak_ptr<const VideoFrame> released = manager->videoSampleBufferCopy();
    const VideoFrameRef again = manager->videoSampleBufferCopy();
    EXPECT_TRUE(released.expired());
    EXPECT_NE(again, nullptr);

    // The slot moves to a device that delivers nothing: the old device's last frame stays.
    manager->startCaptureWithDevice("No Such Camera", cueB, QString());
    manager->setCurrentDevice("No Such Camera", QString());
    const VideoFrameRef kept = manager->videoSampleBufferCopy();
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(isNear(colorOf2vuy(kept->data()), Qt::red));

    // Emptying the secondary slot keeps its frame too; a new manager has none.
    manager->setSecondaryDevice(QString(), QString());
    EXPECT_NE(manager->videoSampleBufferSecondary(), nullptr);
}

TEST_F(CameraManagerTest, MissingFollowsTheDevices)
{
    EXPECT_FALSE(manager->deviceIsAvailable("Red", QString())) << "no camera: not missing";
    manager->startCaptureWithDevice("Gone", cueA, "lavfi:Gone");
    EXPECT_TRUE(manager->deviceIsAvailable("Gone", "lavfi:Gone"));
    manager->startCaptureWithDevice("Red", cueB, QString());
    EXPECT_FALSE(manager->deviceIsAvailable("Red", QString()));
    EXPECT_GT(manager->fpsOfDevice("Red", QString()), -1.0f);

    // Every camera manager of the process posts; the shared one may exist too.
    int changes = 0;
    NotificationCenter::defaultCenter().addObserver(this, kKavioCameraSourcesChangedNotification, nullptr,
                                                    [&](const Notification&) { ++changes; });
    const int managers = KavioCameraManagerInterface::sharedManager() ? 2 : 1;
    TestPatternCaptureBackend* patterns = CaptureService::shared().testPatterns();
    ASSERT_NE(patterns, nullptr);
    patterns->addDevice("Gone", "color=c=lime:s=32x32:r=25");
    EXPECT_FALSE(manager->deviceIsAvailable("Gone", "lavfi:Gone"));
    EXPECT_EQ(changes, managers);
    manager->setCurrentDevice("Gone", "lavfi:Gone");
    const VideoFrameRef green = waitForPrimary();
    ASSERT_NE(green, nullptr);
    EXPECT_TRUE(isNear(colorOf2vuy(green->data()), Qt::green));
    // The cue takes the camera's name and UID.
    EXPECT_EQ(cueA->mediaPath(), "Gone");
    EXPECT_EQ(cueA->deviceUID(), "lavfi:Gone");

    patterns->removeDevice("Gone");
    EXPECT_TRUE(manager->deviceIsAvailable("Gone", "lavfi:Gone"));
    EXPECT_EQ(changes, 2 * managers);
    NotificationCenter::defaultCenter().removeObserver(this);
}

TEST_F(CameraManagerTest, DeckLinkInputsThroughTheBrowser)
{
    auto first = std::make_shared<FakeDeckLinkDevice>();
    first->persistent = 7;
    first->formats = {deckLinkFormat(code("Hp25"), code("2vuy")), deckLinkFormat(code("Hp29"), code("2vuy"), 1001, 30000),
                      deckLinkFormat(code("Hp25"), code("v210")), deckLinkFormat(code("hp50"), code("2vuy"))};
    auto second = std::make_shared<FakeDeckLinkDevice>();
    second->topological = 9;
    second->name = "DeckLink Duo";
    second->formats = {deckLinkFormat(code("Hp25"), code("v210")), deckLinkFormat(code("hp50"), code("2vuy"))};
    deckLink->devices = {first, second};

    auto deckLinkCue = std::make_shared<AudioCue>();
    deckLinkCue->setIsDeckLinkDevice(true);
    manager->startCaptureWithDevice("DeckLink Mini", deckLinkCue, "7");
    manager->startCaptureWithDevice("DeckLink Duo", deckLinkCue, "9");
    EXPECT_EQ(first->starts, 1);
    EXPECT_EQ(first->delegate, manager.get());
    // No active format: the first 8-bit one is chosen.
    EXPECT_EQ(manager->formatDescriptionOfDevice("DeckLink Mini", "7")->displayMode, code("Hp25"));
    EXPECT_FLOAT_EQ(manager->fpsOfDevice("DeckLink Mini", "7"), 25.0f);

    manager->setVideoFormat(first->formats[1], "DeckLink Mini", "7");
    EXPECT_NEAR(manager->fpsOfDevice("DeckLink Mini", "7"), 29.97f, 1e-3);
    EXPECT_EQ(first->starts, 2) << "a manual format reconnects";
    manager->setVideoFormat(deckLinkFormat(code("Hp25"), code("2vuy"), 0, 25), "DeckLink Mini", "7");
    EXPECT_EQ(manager->fpsOfDevice("DeckLink Mini", "7"), 0.0f);

    const auto titles = [](const std::optional<QList<KavioFormatMenuItem>>& items) {
        QStringList list;
        for (const auto& item : *items)
            list << item.title;
        return list;
    };
    const auto one = manager->supportedCommonFormatsOfDecklinkDevices({{"DeckLink Mini", "7"}});
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(titles(one), QStringList({"1080p25", "1080p29.97", "720p50"}));
    const auto both = manager->supportedCommonFormatsOfDecklinkDevices({{"DeckLink Mini", "7"}, {"DeckLink Duo", "9"}});
    EXPECT_EQ(titles(both), QStringList({"1080p25", "720p50"}));
    EXPECT_FALSE(manager->supportedCommonFormatsOfDecklinkDevices({{"Red", "lavfi:Red"}}).has_value());

    // Frames and audio of the primary device reach the slot and its cues; others are dropped.
    manager->setCurrentDevice("DeckLink Mini", "7");
    std::vector<std::int16_t> samples(2 * 8, 16384);
    KavioDeckLinkAudioBuffer audio;
    audio.sampleCount = 8;
    audio.data = samples.data();
    audio.byteSize = samples.size() * 2;
    auto bytes = std::make_shared<std::vector<uint8_t>>(64 * 2 * 4);
    auto frame = std::make_shared<VideoFrame>(MediaPixelFormat::YUV422_8, 64, 4, 128, bytes->data(), MediaTime::zero(), bytes);
    manager->cameraFramesQueue().sync([&] {
        manager->didCaptureVideoSampleBuffer(second.get(), frame);
        manager->didCaptureAudioSampleBuffer(second.get(), audio);
    });
    EXPECT_EQ(manager->videoSampleBufferCopy(), nullptr);
    EXPECT_EQ(deckLinkCue->count(), 0u);
    manager->cameraFramesQueue().sync([&] {
        manager->didCaptureVideoSampleBuffer(first.get(), frame);
        manager->didCaptureAudioSampleBuffer(first.get(), audio);
    });
    const VideoFrameRef pulled = manager->videoSampleBufferCopy();
    ASSERT_NE(pulled, nullptr);
    EXPECT_EQ(pulled->data(), frame->data()) << "no pixel copy";
    ASSERT_EQ(deckLinkCue->count(), 1u);
    EXPECT_FLOAT_EQ(deckLinkCue->buffers[0]->floatChannelData(1)[7], 0.5f);

    // A device that disconnects leaves its camera missing; back, present again.
    deckLink->devices = {second};
    const QVariantMap firstInfo{{kDeckLinkDeviceNameKey, first->displayName()}, {kDeckLinkDeviceUIDKey, first->uid()}};
    NotificationCenter::defaultCenter().post(kDeckLinkDeviceWasDisconnectedNotification, nullptr, firstInfo);
    EXPECT_TRUE(manager->deviceIsAvailable("DeckLink Mini", "7"));
    deckLink->devices = {first, second};
    NotificationCenter::defaultCenter().post(kDeckLinkDeviceWasConnectedNotification, nullptr, firstInfo);
    EXPECT_FALSE(manager->deviceIsAvailable("DeckLink Mini", "7"));
    manager->removeItem(deckLinkCue.get(), "DeckLink Mini", "7");
    EXPECT_GE(first->stops, 1);
}

TEST(KavioCameraManagerAudio, SixteenBitSamplesBecomeFloat)
{
    std::vector<std::int16_t> samples(2 * 1920);
    for (std::size_t i = 0; i < 1920; ++i) {
        samples[2 * i] = 16384;
        samples[2 * i + 1] = -32768;
    }
    KavioDeckLinkAudioBuffer buffer;
    buffer.sampleCount = 1920;
    buffer.data = samples.data();
    buffer.byteSize = samples.size() * 2;
    const auto pcm = KavioCameraManager::convertDeckLinkAudio(buffer);
    ASSERT_NE(pcm, nullptr);
    EXPECT_EQ(pcm->frameLength(), 1920u);
    EXPECT_EQ(pcm->format().channelCount(), 2u);
    EXPECT_EQ(pcm->format().channelLayoutTag(), (147u << 16) | 2u);
    EXPECT_FLOAT_EQ(pcm->floatChannelData(0)[1919], 0.5f);
    EXPECT_FLOAT_EQ(pcm->floatChannelData(1)[0], -1.0f);

    // More bytes than the buffer's frame count: only the frame count is written.
    buffer.sampleCount = 4;
    const auto capped = KavioCameraManager::convertDeckLinkAudio(buffer);
    ASSERT_NE(capped, nullptr);
    EXPECT_EQ(capped->frameCapacity(), 4u);

    struct Refused {
        const char* why;
        std::uint32_t formatID, flags, bits, channels, bytesPerFrame;
    };
    for (const Refused r : {Refused{"float", 0x6C70636D, 1, 32, 2, 8}, Refused{"24-bit", 0x6C70636D, 4, 24, 2, 6},
                            Refused{"not lpcm", 0x61632D33, 4, 16, 2, 4}, Refused{"no channels", 0x6C70636D, 4, 16, 0, 4},
                            Refused{"no bytes per frame", 0x6C70636D, 4, 16, 2, 0}}) {
        KavioDeckLinkAudioBuffer bad = buffer;
        bad.formatID = r.formatID;
        bad.formatFlags = r.flags;
        bad.bitsPerChannel = r.bits;
        bad.channelsPerFrame = r.channels;
        bad.bytesPerFrame = r.bytesPerFrame;
        EXPECT_EQ(KavioCameraManager::convertDeckLinkAudio(bad), nullptr) << r.why;
    }
}

TEST(KavioCameraManagerNames, DisplayModes)
{
    struct Case {
        std::uint32_t code;
        const char* name;
    };
    for (const Case c : {Case{code("Hp25"), "1080p25"}, Case{code("pal "), "PAL"}, Case{code("2d59"), "2kDCI59.97"},
                         Case{code("4d59"), "4kDCI59.94"}, Case{code("8d60"), "8kDCI60"}, Case{code("ntsc"), "NTSC"},
                         Case{0, "unknown"}, Case{code("Hp26"), "unknown"}})
        EXPECT_EQ(KavioCameraManager::displayModeNameWithDisplayModeNumber(c.code), c.name) << c.name;
}

TEST(KavioDeckLinkCapture, UIDText)
{
    struct Case {
        std::int64_t persistent, topological;
        const char* uid;
    };
    for (const Case c : {Case{0, 5, "5"}, Case{0, 0, ""}, Case{12, 5, "12"}, Case{-1, 3, "3"}}) {
        FakeDeckLinkDevice device;
        device.persistent = c.persistent;
        device.topological = c.topological;
        EXPECT_EQ(device.uid(), c.uid);
    }
}

TEST(KavioCameraCue, ShowsItsDeviceAndFollowsIt)
{
    const auto controller = std::make_shared<FakeKavioVideoItemManager>();
    FakeInspector inspector;
    controller->inspector = &inspector;
    const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Blue"), controller);
    inspector.shown = cue;
    EXPECT_FALSE(cue->isMissing());
    EXPECT_TRUE(cue->isYUV());
    EXPECT_EQ(cue->mediaPath(), "Blue");
    cue->markAsCurrent(true);
    std::shared_ptr<const VideoFrame> frame;
    // The slot may still hold another device's last frame until this one delivers.
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] {
        frame = cue->pixelBufferCopy();
        return frame && isNear(colorOf2vuy(frame->data()), Qt::blue);
    }, kTimeout));
    EXPECT_EQ(cue->sourceSize(), QSizeF(64, 48));
    // The format is known once the device has opened.
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->codecString() == "2vuy"; }, kTimeout));
    EXPECT_FLOAT_EQ(cue->videoFPS(), 25.0f);

    // The device goes: missing, and the inspector showing the cue refreshes; back: present.
    TestPatternCaptureBackend* patterns = CaptureService::shared().testPatterns();
    patterns->removeDevice("Blue");
    EXPECT_TRUE(cue->isMissing());
    EXPECT_EQ(cue->pixelBufferCopy(), nullptr);
    EXPECT_GE(inspector.pulls, 1);
    patterns->addDevice("Blue", "color=c=blue:s=64x48:r=25");
    EXPECT_FALSE(cue->isMissing());
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->pixelBufferCopy() != nullptr; }, kTimeout));

    // A switch to a device that is not there leaves the cue missing, and ready.
    cue->switchCameraTo(QStringLiteral("Studio Camera 3"), QStringLiteral("usb-3"));
    EXPECT_TRUE(cue->isMissing());
    EXPECT_TRUE(cue->isReady());
    EXPECT_EQ(cue->mediaPath(), "Studio Camera 3");
    cue->removeResources();
    EXPECT_EQ(KavioCameraManager::sharedManager()->findCameraWithUID(QString(), "Studio Camera 3"), nullptr);
}

TEST(KavioCameraCue, NamesFromTheDevices)
{
    const auto controller = std::make_shared<FakeKavioVideoItemManager>();
    // No name: the system's first device.
    const auto first = KavioVideoItem::initWithCamera(QString(), controller);
    EXPECT_EQ(first->mediaPath(), "Red");
    EXPECT_EQ(first->deviceUID(), "lavfi:Red");
    first->removeResources();

    // DeckLink inputs by name or id; the UID is the persistent id, else the topological one.
    auto browser = std::make_shared<FakeDeckLinkBrowser>();
    auto topological = std::make_shared<FakeDeckLinkDevice>();
    topological->topological = 5;
    topological->name = "DeckLink 8K";
    auto none = std::make_shared<FakeDeckLinkDevice>();
    none->name = "DeckLink Quad";
    browser->devices = {topological, none};
    KavioDeckLinkCaptureBrowserInterface::setSharedBrowser(browser);
    struct Case {
        QString name, uid;
        const char* expectedUID;
        bool deckLink;
    };
    for (const Case& c : {Case{"DeckLink 8K", "", "5", true}, Case{"Anything", "5", "5", true},
                          Case{"DeckLink Quad", "", "", true}, Case{"Webcam", "", "", false}}) {
        const auto cue = std::make_shared<KavioVideoItem>();
        cue->setMediaType(KavioMediaTypeCamera);
        cue->startCameraWithName(c.name, c.uid);
        EXPECT_EQ(cue->deviceUID(), c.expectedUID) << c.name.toStdString();
        EXPECT_EQ(cue->isDeckLinkDevice(), c.deckLink) << c.name.toStdString();
        cue->removeResources();
    }
    KavioDeckLinkCaptureBrowserInterface::setSharedBrowser(std::make_shared<FakeDeckLinkBrowser>());
}

// A real V4L2 device end to end, where the machine has one.
TEST(V4L2Capture, FirstDeviceDelivers)
{
    if (QDir("/dev").entryList({"video*"}, QDir::System).isEmpty())
        GTEST_SKIP() << "no /dev/video* on this machine";
    QList<CaptureDeviceInfo> devices;
    for (const CaptureDeviceInfo& device : CaptureService::shared().devices())
        if (!device.uid.startsWith("lavfi:"))
            devices << device;
    if (devices.isEmpty())
        GTEST_SKIP() << "no V4L2 node captures video";
    std::atomic<int> frames{0};
    auto stream = CaptureService::shared().start(devices.first().uid, false, [&](VideoFrameRef f) {
        if (f && f->pixelFormat() == MediaPixelFormat::YUV422_8)
            ++frames;
    });
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return frames > 0; }, kTimeout));
}

}  // namespace
