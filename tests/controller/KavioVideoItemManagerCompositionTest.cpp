// Frame composition with cues whose frames the test makes, drawn through real layer and
// transition renderers on the run's GPU (Mesa under Xvfb) and read back.

#include "ControllerFakes.h"
#include "RenderingTestSupport.h"
#include "TestSwitch.h"
#include "../../bench/KavioBenchSupport.h"
#include "Rendering/KavioMetalTransitionRenderer.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Rendering/QVTMetalLayerRenderer.h"
#include "Support/KavioColorWellInterface.h"
#include "Support/KavioPopUpButtonInterface.h"

#include "VideoFrame.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

namespace {

constexpr int kW = 64, kH = 36;

VideoFrameRef solidFrame(Rgba c)
{
    const int rowBytes = bytesPerRowFor(MediaPixelFormat::BGRA, kW);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::size_t(rowBytes) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            std::uint8_t* p = bytes->data() + std::ptrdiff_t(y) * rowBytes + x * 4;
            p[0] = std::uint8_t(c.b), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.r), p[3] = std::uint8_t(c.a);
        }
    return std::make_shared<const VideoFrame>(MediaPixelFormat::BGRA, kW, kH, rowBytes, bytes->data(), MediaTime{}, bytes);
}

// A cue whose frame the test sets, with its own layer renderer, recording what the pass asks.
class ComposedCue : public KavioVideoItem {
public:
    ComposedCue(QVTMetalManager& manager, Rgba colour)
        : KavioVideoItem([](const QVTOSCMessage&) {}),
          layer(std::make_shared<QVTMetalLayerRenderer>(QSizeF(kW, kH), false, false, false, false, manager)),
          frame(solidFrame(colour))
    {
        setIsReady(true);
        setFadeOpacity(1.0f);
    }
    std::shared_ptr<const VideoFrame> pixelBufferCopy() override
    {
        ++frameCopies;
        return frame;
    }
    std::shared_ptr<GpuTexture> hapTexture() override { return source; }
    std::shared_ptr<GpuTexture> syphonSourceTexture() override { return source; }
    std::shared_ptr<GpuTexture> browserSourceTexture() override { return source; }
    std::shared_ptr<GpuTexture> windowSourceTexture() override { return source; }
    void renderLayerControlsWithMTLTexture(const std::shared_ptr<GpuTexture>& texture) override
    {
        QVTLayerSettings settings;
        settings.sizingMode = 2;
        layer->renderWithTexture(texture, settings);
    }
    std::shared_ptr<GpuTexture> displayTexture() const override { return layer->texture(); }
    std::shared_ptr<KavioMetalTransitionRendererInterface> transition() const override { return ownTransition; }
    double transitionProgress() const override { return progress; }
    bool isProcessingTransition() const override { return inTransition; }
    void processTasksOnDisplayLink() override
    {
        ++tasks;
        if (throwInTasks)
            throw std::runtime_error("fade failed");
    }
    void updateAudioMeter() override { ++meterUpdates; }
    QString currentTimeSMPTE() const override
    {
        ++timeReads;
        return QStringLiteral("00:00:01:00");
    }
    QString timeLeftSMPTE() const override { return QStringLiteral("-00:00:09:00"); }
    std::shared_ptr<QVTCaption> currentCaptionPreview() override
    {
        ++captionReads;
        return nullptr;
    }
    std::shared_ptr<QVTCaption> currentCaptionOutput() override
    {
        ++captionReads;
        return nullptr;
    }

    std::shared_ptr<QVTMetalLayerRenderer> layer;
    VideoFrameRef frame;
    std::shared_ptr<GpuTexture> source;  // the texture sources' picture
    std::shared_ptr<KavioMetalTransitionRendererInterface> ownTransition;
    double progress = 0.0;
    bool inTransition = false;
    bool throwInTasks = false;
    int tasks = 0, meterUpdates = 0, captionReads = 0, frameCopies = 0;
    mutable int timeReads = 0;
};

// The steps other concerns own, counted.
class CountingController : public KavioVideoItemManager {
public:
    CountingController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    void stopTransitionToItem() override
    {
        ++transitionStops;
        if (endsTransitions)
            KavioVideoItemManager::stopTransitionToItem();
    }
    bool endsTransitions = false;  // the crossover's real end instead of only the count
    void processFadeOut() override { ++fadeOutSteps; }
    void processFadeIn() override { ++fadeInSteps; }
    int transitionStops = 0, fadeOutSteps = 0, fadeInSteps = 0;
};

struct SmallOutputs : KavioVideoOutputManagerInterface {
    void initManager() override {}
    void renderWithTexture(const std::shared_ptr<GpuTexture>&) override {}
    void presentDrawables() override {}
    QSizeF renderSize() const override { return {kW, kH}; }
    bool useHighBitDepthRendering() const override { return false; }
};

struct TestColorWell : KavioColorWellInterface {
    QColor value;
    QColor color() const override { return value; }
    void setColor(const QColor& c) override { value = c; }
    bool isEnabled() const override { return true; }
    void setEnabled(bool) override {}
};

struct TestPopUp : KavioPopUpButtonInterface {
    long tag = 0;
    QString title;
    void addItem(const QString&, long) override {}
    int numberOfItems() const override { return 1; }
    bool selectItemWithTag(long t) override { return tag = t, true; }
    bool selectItemWithTitle(const QString& t) override { return title = t, true; }
    long selectedTag() const override { return tag; }
    QString titleOfSelectedItem() const override { return title; }
    bool isEnabled() const override { return true; }
    void setEnabled(bool) override {}
    void removeItemAtIndex(int) override {}
};

class CompositionTest : public RenderingTest {
protected:
    void SetUpWithDevice() override
    {
        controllerTestHome();
        defaults = std::make_unique<UserDefaults>(settingsDir.filePath(QStringLiteral("test.conf")));
        controller = KavioVideoItemManager::init<CountingController>(*defaults);
        controller->setMetalManager(*manager);
        KavioVideoItemManagerOutlets o;
        o.videoOutputManager = outputs;
        o.audioStreamersManager = streamers;
        o.markerController = marker;
        o.waveformManager = waveform;
        o.matteColorWell = &matteWell;
        o.subtitleOverlayBackgroundColor = &backgroundWell;
        o.subtitleOverlayFontColor = &fontColourWell;
        o.subtitleOverlaySize = &fontSizePopUp;
        o.subtitleOverlayFont = &fontPopUp;
        controller->setOutlets(o);
        controller->createTextureCache();
    }
    void TearDown() override
    {
        if (controller)
            controller->setCurrentItem(nullptr);
        DispatchQueue::drainMain();
    }

    std::shared_ptr<ComposedCue> addCue(Rgba colour)
    {
        auto cue = std::make_shared<ComposedCue>(*manager, colour);
        cue->setManager(controller);
        controller->insertItem(cue, controller->items()->size() + 1);
        return cue;
    }
    std::shared_ptr<KavioMetalTransitionRenderer> crossing(const std::shared_ptr<KavioVideoItem>& from,
                                                           const std::shared_ptr<KavioVideoItem>& to, double duration)
    {
        auto transition = std::make_shared<KavioMetalTransitionRenderer>(QSizeF(kW, kH), false,
                                                                          KavioTransitionTypeDissolve, *manager);
        transition->setSourceItem(from);
        transition->setDestinationItem(to);
        transition->setDuration(duration);
        return transition;
    }
    void pass(double time = 1.0)
    {
        frame([&] { controller->createCurrentTextureAtTime(time); });
    }
    Rgba shown()
    {
        const auto texture = controller->textureName();
        EXPECT_NE(texture, nullptr);
        return texture ? pixel(*texture, kW / 2, kH / 2) : Rgba{-1, -1, -1, -1};
    }
    // The display defaults as the next "KavioUpdateUI" hands them to the render thread.
    void setDisplayDefaults(bool cueTimes, bool fps, bool subtitles)
    {
        defaults->setBool(cueTimes, QStringLiteral("displayCueTimeOverlay"));
        defaults->setBool(fps, QStringLiteral("displayRenderingFPS"));
        defaults->setBool(subtitles, QStringLiteral("displaySubtitles"));
        NotificationCenter::defaultCenter().post(QStringLiteral("KavioUpdateUI"));
        DispatchQueue::drainMain();
    }

    QTemporaryDir settingsDir;
    std::unique_ptr<UserDefaults> defaults;
    CallLog log;
    std::shared_ptr<SmallOutputs> outputs = std::make_shared<SmallOutputs>();
    std::shared_ptr<FakeAudioStreamers> streamers = std::make_shared<FakeAudioStreamers>();
    std::shared_ptr<FakeMarkerController> marker = std::make_shared<FakeMarkerController>(log);
    std::shared_ptr<FakeWaveformManager> waveform = std::make_shared<FakeWaveformManager>(log);
    TestColorWell matteWell, backgroundWell, fontColourWell;
    TestPopUp fontSizePopUp, fontPopUp;
    std::shared_ptr<CountingController> controller;
};

TEST_F(CompositionTest, OwnTransitionCrossesTheOutgoingSlotAWithTheIncomingSlotB)
{
    const auto a = addCue(kRed), b = addCue(kBlue);
    a->ownTransition = crossing(a, b, 1.0);
    a->setHasTransition(true);
    a->inTransition = true;
    controller->setCurrentItem(a);

    struct Case {
        double progress;
        Rgba expected;
        float audioFadeA;
    };
    const Case cases[] = {
        {0.5, {128, 0, 128, 255}, 0.5f},
        {std::numeric_limits<double>::quiet_NaN(), kBlue, 0.0f},  // not a number counts as the end
        {1.7, kBlue, 0.0f},
        {-0.3, kRed, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progress);
        a->progress = c.progress;
        pass();
        EXPECT_EQ(controller->textureName(), a->ownTransition->texture());
        EXPECT_TRUE(near(shown(), c.expected));
        EXPECT_FLOAT_EQ(a->audioFade(), c.audioFadeA);
        EXPECT_FLOAT_EQ(b->audioFade(), 1.0f - c.audioFadeA);
        EXPECT_FLOAT_EQ(streamers->mixProgress.back(), 1.0f - c.audioFadeA);
    }
    EXPECT_EQ(a->tasks, 4);
    EXPECT_EQ(b->tasks, 4) << "every cue of the list runs its per-frame tasks";
    EXPECT_EQ(b->meterUpdates, 4);

    // The transition over, the cue shows its own layer.
    a->inTransition = false;
    pass();
    EXPECT_EQ(controller->textureName(), a->displayTexture());
    EXPECT_TRUE(near(shown(), kRed));
}

TEST_F(CompositionTest, SlotAFetchReleasesBothSlotsOnlyWhenAFrameCame)
{
    const auto a = addCue(kRed), b = addCue(kBlue);
    a->ownTransition = crossing(a, b, 1.0);
    a->setHasTransition(true);
    a->inTransition = true;
    a->progress = 0.5;
    controller->setCurrentItem(a);
    pass();
    ASSERT_NE(controller->texA(), nullptr);
    ASSERT_NE(controller->texB(), nullptr);
    EXPECT_NE(controller->texA(), controller->texB());

    a->inTransition = false;
    const auto frame = std::exchange(a->frame, nullptr);
    pass();
    EXPECT_NE(controller->texB(), nullptr) << "no frame, nothing fetched: the slots stay";

    a->frame = frame;
    pass();
    EXPECT_NE(controller->texA(), nullptr);
    EXPECT_EQ(controller->texB(), nullptr);
}

TEST_F(CompositionTest, TextureSourcesBypassTheFrameSlots)
{
    const auto cue = addCue(kRed);
    controller->setCurrentItem(cue);
    struct Case {
        KavioMediaType type;
        bool hap;
        bool fromSource;
    };
    const Case cases[] = {
        {KavioMediaTypeSyphon, false, true}, {KavioMediaTypeBrowser, false, true}, {KavioMediaTypeWindow, false, true},
        {KavioMediaTypeMovie, true, true},   {KavioMediaTypeMovie, false, false},  {KavioMediaTypeNDI, false, false},
        {KavioMediaTypeStill, false, false}, {KavioMediaTypeCamera, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " hap " << c.hap);
        cue->setMediaType(c.type);
        cue->setIsHAP(c.hap);
        cue->source = solid(kW, kH, kBlue);
        const int copies = cue->frameCopies;
        pass();
        EXPECT_TRUE(near(shown(), c.fromSource ? kBlue : kRed));
        EXPECT_EQ(cue->frameCopies - copies, c.fromSource ? 0 : 1);

        // A source without a picture keeps the layer's last one.
        cue->source = nullptr;
        pass();
        EXPECT_TRUE(near(shown(), c.fromSource ? kBlue : kRed));
    }
}

TEST_F(CompositionTest, PendingJumpOrUnreadyCueKeepsTheLastPicture)
{
    const auto a = addCue(kRed), b = addCue(kBlue);
    controller->setCurrentItem(a);
    controller->setShouldFadeOut(true);
    controller->setShouldFadeIn(true);
    pass();
    const auto picture = controller->textureName();
    ASSERT_EQ(picture, a->displayTexture());
    EXPECT_EQ(controller->fadeOutSteps, 1) << "one master-fade step a pass, the fade-out first";
    EXPECT_EQ(controller->fadeInSteps, 0);

    // A jump pending: nothing runs, nothing is drawn.
    controller->setShouldSkipRenderingBecauseOfProcessingJump(true);
    a->frame = solidFrame(kBlue);
    pass();
    EXPECT_FALSE(controller->isRendering());
    EXPECT_EQ(a->tasks, 1);
    EXPECT_EQ(controller->fadeOutSteps, 1);
    EXPECT_EQ(controller->textureName(), picture);
    EXPECT_TRUE(near(shown(), kRed));
    controller->setShouldSkipRenderingBecauseOfProcessingJump(false);

    // A current cue that is not ready: the last rendered cue's picture stays.
    b->setIsReady(false);
    controller->setCurrentItem(b);
    pass();
    EXPECT_EQ(b->tasks, 1);
    EXPECT_EQ(controller->fadeOutSteps, 1);
    EXPECT_EQ(controller->textureName(), picture);
    EXPECT_TRUE(near(shown(), kRed));

    controller->setCurrentItem(nullptr);
    pass();
    EXPECT_EQ(controller->textureName(), nullptr);
}

TEST_F(CompositionTest, WithoutAGpuThereIsNoTextureCacheAndNoFrameIsFetched)
{
    QVTMetalManager noGpu(nullptr);
    auto bare = KavioVideoItemManager::init(*defaults);
    bare->setMetalManager(noGpu);
    bare->createTextureCache();
    const auto cue = addCue(kRed);
    bare->setCurrentItem(cue);
    frame([&] { bare->createCurrentTextureAtTime(1.0); });
    EXPECT_EQ(cue->frameCopies, 0);
    EXPECT_EQ(bare->texA(), nullptr);
    bare->setCurrentItem(nullptr);
}

TEST_F(CompositionTest, ACueThatThrowsEndsOnlyThatPass)
{
    const auto cue = addCue(kRed);
    controller->setCurrentItem(cue);
    cue->throwInTasks = true;
    pass();
    EXPECT_FALSE(controller->isRendering()) << "a jump waiting for the pass must not wait for ever";
    cue->throwInTasks = false;
    pass();
    EXPECT_TRUE(near(shown(), kRed));
}

TEST_F(CompositionTest, GlobalTransitionAddsTheTimeBetweenPassesFromItsSecondPass)
{
    const auto a = addCue(kRed), b = addCue(kBlue);
    controller->setCurrentItem(a);
    controller->setIsProcessingGlobalTransition(true);

    // Length 0 ends in its first pass.
    auto instant = crossing(a, b, 0.0);
    controller->setCurrentTransition(instant);
    pass(100.0);
    EXPECT_EQ(controller->transitionStops, 1);
    EXPECT_EQ(controller->textureName(), instant->texture());
    EXPECT_TRUE(near(shown(), kBlue));

    auto timed = crossing(a, b, 2.0);
    controller->setCurrentTransition(timed);
    for (const double t : {200.0, 200.5, 201.0})
        pass(t);
    const std::vector<float> expected{1.0f, 0.0f, 0.25f, 0.5f};
    EXPECT_EQ(streamers->mixProgress, expected);
    EXPECT_FLOAT_EQ(timed->progress(), 0.5f);
    EXPECT_EQ(controller->transitionStops, 1);
    EXPECT_TRUE(near(shown(), {128, 0, 128, 255}));
    EXPECT_EQ(a->meterUpdates, 4) << "both cues' meters at the end of every pass";
    EXPECT_EQ(b->meterUpdates, 4);

    // The position bar shows the mix in hundredths.
    DispatchQueue::drainMain();
    EXPECT_EQ(marker->markerTime(), 50);
}

TEST_F(CompositionTest, OverlayArgumentsFollowTheDisplayDefaultsAndTheOutputsAsk)
{
    auto& standard = UserDefaults::standardUserDefaults();
    standard.setInteger(30, QStringLiteral("cueTimesOverlayColor"));  // red boxes
    standard.setInteger(11, QStringLiteral("cueTimesOverlayPosition"));  // times at the bottom, fps at the top
    const QSizeF size(400, 200);
    EXPECT_EQ(controller->overlayPreviewTextureForSize(size, true, "60 fps"), nullptr) << "no current cue";

    const auto cue = addCue(kRed);
    controller->setCurrentItem(cue);
    EXPECT_EQ(controller->overlayPreviewTextureForSize({0, 200}, true, "60 fps"), nullptr);

    struct Case {
        bool cueTimes, fps, subtitles;
    };
    for (const Case c : {Case{true, true, true}, Case{false, false, false}, Case{true, false, false},
                         Case{false, true, false}, Case{false, false, true}}) {
        SCOPED_TRACE(testing::Message() << c.cueTimes << c.fps << c.subtitles);
        setDisplayDefaults(c.cueTimes, c.fps, c.subtitles);
        controller->changeCueTimesOverlay();  // new texts must not leave the old boxes behind
        const int timeReads = cue->timeReads, captionReads = cue->captionReads;
        const auto texture = controller->overlayPreviewTextureForSize(size, true, "60 fps");
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(near(pixel(*texture, 22, 185), kRed), c.cueTimes) << "elapsed-time box";
        EXPECT_EQ(near(pixel(*texture, 378, 15), kRed), c.fps) << "frame-rate box";
        EXPECT_EQ(cue->timeReads - timeReads, c.cueTimes ? 1 : 0);
        EXPECT_EQ(cue->captionReads - captionReads, c.subtitles ? 1 : 0);
    }

    // An output gets times and caption when it asks, never a frame rate.
    EXPECT_EQ(controller->overlayOutputTextureForSize(size, true, false, false), nullptr);
    const int captionReads = cue->captionReads;
    const auto output = controller->overlayOutputTextureForSize(size, true, true, true);
    ASSERT_NE(output, nullptr);
    EXPECT_TRUE(near(pixel(*output, 22, 185), kRed));
    EXPECT_TRUE(near(pixel(*output, 378, 15), kTransparent));
    EXPECT_EQ(cue->captionReads, captionReads + 1);
    for (const char* key : {"cueTimesOverlayColor", "cueTimesOverlayPosition"})
        standard.removeObjectForKey(QString::fromLatin1(key));
}

TEST_F(CompositionTest, SettingsActionsStoreTheirValuesAndRedrawTheOverlays)
{
    // The matte colour: opaque on the GPU manager and in 32 bytes.
    matteWell.value = QColor::fromRgbF(0.25f, 0.5f, 0.75f, 0.5f);
    KavioColor opaqueMatte = KavioColor::fromQColor(matteWell.value);
    opaqueMatte.alpha = 1.0;
    controller->changeMatteColor();
    const QVTMatteColor matte = manager->matteColor();
    EXPECT_EQ((KavioColor{matte.red, matte.green, matte.blue, matte.alpha}), opaqueMatte);
    const QByteArray stored = defaults->dataForKey(QStringLiteral("matteColor"));
    ASSERT_EQ(stored.size(), 32);
    EXPECT_EQ(KavioColor::fromRecord(stored), opaqueMatte);

    // Caption settings: stored, handed to the font manager, announced, overlays redrawn.
    auto& standard = UserDefaults::standardUserDefaults();
    standard.setInteger(30, QStringLiteral("cueTimesOverlayColor"));
    standard.setInteger(11, QStringLiteral("cueTimesOverlayPosition"));
    const auto cue = addCue(kRed);
    controller->setCurrentItem(cue);
    int announced = 0;
    NotificationCenter::defaultCenter().addObserver(this, kKavioSubtitleSettingsChangedNotification, controller.get(),
                                                    [&](const Notification&) { ++announced; });
    backgroundWell.value = QColor::fromRgbF(0.0f, 0.0f, 1.0f, 0.5f);
    fontColourWell.value = QColor::fromRgbF(1.0f, 1.0f, 0.0f, 0.5f);
    fontSizePopUp.tag = 30;
    fontPopUp.title = QStringLiteral("DejaVu Sans");
    using Action = void (KavioVideoItemManager::*)();
    for (const Action action : {&KavioVideoItemManager::changeSubtitlesOverlayFontSize,
                                &KavioVideoItemManager::changeSubtitlesOverlayFont,
                                &KavioVideoItemManager::changeSubtitlesOverlayBackgroundColor,
                                &KavioVideoItemManager::changeSubtitlesOverlayFontColor}) {
        setDisplayDefaults(true, false, false);
        controller->overlayPreviewTextureForSize({400, 200}, true, {});
        setDisplayDefaults(false, false, false);
        ((*controller).*action)();
        const auto texture = controller->overlayPreviewTextureForSize({400, 200}, true, {});
        EXPECT_TRUE(near(pixel(*texture, 22, 185), kTransparent)) << "the old time box is cleared";
    }
    NotificationCenter::defaultCenter().removeObserver(this);
    EXPECT_EQ(announced, 4);
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("subtitlesFontSize")), 30);
    EXPECT_EQ(defaults->stringForKey(QStringLiteral("subtitlesFont")), QStringLiteral("DejaVu Sans"));
    // The background keeps its alpha; caption text is opaque.
    const KavioColor background = KavioColor::fromQColor(backgroundWell.value);
    const KavioColor text{1, 1, 0, 1};
    const auto& fonts = KavioOverlayFontManager::sharedManager();
    EXPECT_EQ(fonts.subtitleBackgroundColor(), background);
    EXPECT_EQ(fonts.subtitleFontColor(), text);
    EXPECT_EQ(KavioColor::fromRecord(defaults->dataForKey(QStringLiteral("subtitlesBackgroundColor"))), background);
    EXPECT_EQ(KavioColor::fromRecord(defaults->dataForKey(QStringLiteral("subtitlesFontColor"))), text);
    for (const char* key : {"cueTimesOverlayColor", "cueTimesOverlayPosition"})
        standard.removeObjectForKey(QString::fromLatin1(key));
}

TEST_F(CompositionTest, MiddleViewResizeRedrawsWaveformRangeAndMarker)
{
    controller->handleMiddleViewResize();
    EXPECT_EQ(log.take(), (QStringList{"waveform.redraw(10,90)", "marker.redraw"}));
}

// The application controller as far as a GO goes: the switches and a logged play toggle; the
// rest answers "nothing", as for the benchmarks.
struct TestApp : KavioBenchDelegate {
    CallLog& log;
    TestSwitch play, globalTransition;
    explicit TestApp(CallLog& l) : log(l) {}
    KavioButtonInterface* playButton() const override { return const_cast<TestSwitch*>(&play); }
    void performTogglePlayWithCompletedHandler(std::function<void()> handler) override
    {
        log.add(QStringLiteral("app.togglePlay"));
        if (handler)
            handler();
    }
    KavioButtonInterface* globalTransitionButton() const override { return const_cast<TestSwitch*>(&globalTransition); }
};

TEST_F(CompositionTest, GoWithTheGlobalTransitionMixesBothCuesAndEndsOnTheIncomingCue)
{
    auto app = std::make_shared<TestApp>(log);
    app->globalTransition.setState(1);
    controller->setDelegate(app);
    controller->endsTransitions = true;
    controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});  // jumps open, as after set-up
    const auto a = addCue(kRed), b = addCue(kBlue);
    controller->buildItemQueue();
    b->ownTransition = crossing(a, b, 1.0);
    b->setTransitionTime(1.0);
    controller->setCurrentItem(a);
    a->markAsCurrent(true);

    controller->jumpToAndPlayItem(b);
    DispatchQueue::drainMain();
    ASSERT_TRUE(controller->isProcessingGlobalTransition());
    EXPECT_TRUE(log.take().contains("app.togglePlay"));
    EXPECT_TRUE(b->isPlaying());
    pass(10.0);
    EXPECT_TRUE(near(shown(), kRed));
    pass(10.5);
    EXPECT_TRUE(near(shown(), {128, 0, 128, 255})) << "both cues mixed halfway";
    EXPECT_EQ(controller->currentItem(), a);
    pass(11.0);
    EXPECT_EQ(controller->transitionStops, 1);
    EXPECT_EQ(controller->currentItem(), b);
    EXPECT_FALSE(controller->isProcessingGlobalTransition());
    DispatchQueue::drainMain();
    EXPECT_TRUE(controller->canJump());
    EXPECT_FALSE(a->isCurrent());
    pass(11.5);
    EXPECT_TRUE(near(shown(), kBlue));
}

}  // namespace
