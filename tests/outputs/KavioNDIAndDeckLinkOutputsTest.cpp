// NDI and DeckLink outputs: the format tables and their operations, each frame's audio, and
// frames leaving through the loopback NDI backend and the virtual card.
#include "OutputsTestSupport.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Cue/KavioNDIReceiverSource.h"
#include "Outputs/KavioDeckLinkBrowser.h"
#include "Outputs/KavioDecklinkOutput.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPopUpButton.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "NdiBackend.h"
#include "NdiLoopbackBackend.h"
#include "QVTAudioStreamer.h"
#include "QVTNDIReceiver.h"
#include "QVTNDISender.h"
#include "StrevalDirectory.h"
#include "UndoManager.h"
#include "UserDefaults.h"
#include "VirtualDeckLink.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr double kTimeout = 30.0;

// One enabled stereo streamer per output.
class Streamers : public KavioAudioStreamersManagerInterface {
public:
    void setChannelMappingA(const QList<int>&) override {}
    void setIsMixing(bool) override {}
    bool isMixing() const override { return false; }
    void switchBuffers() override {}
    void setVolumeA(double) override {}
    void setVolumeB(double) override {}
    void setChannelMappingB(const QList<int>&) override {}
    void setMixProgress(float) override {}
    void createAudioStreamerWithUUID(const QString& uuid) override
    {
        auto streamer = std::make_shared<QVTAudioStreamer>(48000, 2);
        streamer->setIsEnabled(true);
        streamers[uuid] = streamer;
    }
    void removeStreamerWithUUID(const QString& uuid) override { streamers.erase(uuid); }
    std::shared_ptr<QVTAudioStreamer> streamerWithUUID(const QString& uuid) const override
    {
        auto it = streamers.find(uuid);
        return it == streamers.end() ? nullptr : it->second;
    }
    std::map<QString, std::shared_ptr<QVTAudioStreamer>> streamers;
};

using decklink::VirtualDeckLinkDevice;

// The loopback NDI backend in a discovery folder of this test's own (parallel suites announce
// senders of the same names); the runtime folder the other suites' servers use comes back after.
class PrivateNDIDiscovery {
public:
    PrivateNDIDiscovery()
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            old_ = old;
        ::setenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit().constData(), 1);
        ::setenv("KAVIO_NDI_BACKEND", "loopback", 1);
    }
    ~PrivateNDIDiscovery()
    {
        if (old_)
            ::setenv("XDG_RUNTIME_DIR", old_->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

private:
    QTemporaryDir dir_;
    std::optional<std::string> old_;
};

class OutputObjectTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        discovery = std::make_unique<PrivateNDIDiscovery>();
        streamers = std::make_shared<Streamers>();
    }
    void TearDown() override
    {
        for (auto& output : made)
            output->removeResources();
        made.clear();
        discovery.reset();
    }
    std::shared_ptr<KavioVideoOutputObject> make(std::int32_t kind, QRectF frame = {0, 0, 64, 36}, bool deep = false)
    {
        auto output = std::make_shared<KavioVideoOutputObject>(frame, deep, *manager, streamers);
        output->setIndex(7);
        output->setVideoOutputType(kind);
        made.push_back(output);
        return output;
    }
    // A card on a DeckLink output, its audio format set.
    std::shared_ptr<VirtualDeckLinkDevice> attachCard(const std::shared_ptr<KavioVideoOutputObject>& output)
    {
        auto device = std::make_shared<VirtualDeckLinkDevice>("Virtual DeckLink 1", 1);
        output->setDecklinkOutputDevice(device);
        return device;
    }
    std::vector<std::uint32_t> pulls(KavioVideoOutputObject& output, int count)
    {
        std::vector<std::uint32_t> frames;
        for (int i = 0; i < count; ++i) {
            output.handleAudioOutput();
            frames.push_back(output.lastAudioFrames());
        }
        return frames;
    }

    std::unique_ptr<PrivateNDIDiscovery> discovery;
    std::shared_ptr<Streamers> streamers;
    std::vector<std::shared_ptr<KavioVideoOutputObject>> made;
};

}  // namespace

TEST_F(OutputObjectTest, DeckLinkAudioFollowsTheCardsCadence)
{
    auto output = make(KavioVideoOutputTypeDeckLink);
    const struct {
        GpuTime rate;
        std::vector<std::uint32_t> frames;
    } cases[] = {
        {{30000, 1001, 0}, {1601, 1601, 1601, 1601, 1601, 1601, 1601, 1601, 1601, 1607, 1601}},
        {{60000, 1001, 0}, {800, 800, 800, 800, 800, 800, 800, 800, 800, 808, 800}},
        {{24000, 1001, 0}, {2002, 2002, 2002}},
        {{25000, 1000, 0}, {1920, 1920}},
        {{50, 1, 0}, {960}},
    };
    for (const auto& c : cases) {
        output->setFramerate(c.rate);
        output->orderFront();  // the cadence starts again
        EXPECT_EQ(pulls(*output, int(c.frames.size())), c.frames) << c.rate.timeValue << "/" << c.rate.timeScale;
    }
}

TEST_F(OutputObjectTest, NDIAudioCarriesTheFractionSoNothingDrifts)
{
    auto output = make(KavioVideoOutputTypeNDI);
    const struct {
        GpuTime rate;
        std::uint64_t frames, samples;
    } cases[] = {{{30000, 1001, 0}, 10, 16016}, {{60000, 1001, 0}, 10, 8008}, {{24000, 1001, 0}, 5, 10010},
                 {{30000, 1001, 0}, 3000, 4804800}};
    for (const auto& c : cases) {
        output->setFramerate(c.rate);
        output->orderFront();
        std::uint64_t total = 0;
        for (std::uint64_t i = 0; i < c.frames; ++i) {
            output->handleAudioOutput();
            total += output->lastAudioFrames();
            ASSERT_LE(output->lastAudioFrames(), 2002u);
        }
        EXPECT_EQ(total, c.samples) << c.rate.timeValue << "/" << c.rate.timeScale << " over " << c.frames;
    }
    output->setFramerate({24000, 1001, 0});
    output->orderFront();
    EXPECT_EQ(pulls(*output, 3), (std::vector<std::uint32_t>{2002, 2002, 2002}));
}

TEST_F(OutputObjectTest, ScreenAudioFollowsTheRealTimeAfterOneFrameFirst)
{
    auto output = make(KavioVideoOutputTypeScreen);
    output->setFramerate({60000, 1000, 0});
    output->orderFront();
    // The second pull covers the time between the two pulls: at least the pause, at most what
    // passed around both.
    const auto before = std::chrono::steady_clock::now();
    output->handleAudioOutput();
    EXPECT_EQ(output->lastAudioFrames(), 800u) << "the first pull after orderFront is one frame";
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    output->handleAudioOutput();
    const double atMost = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_GE(output->lastAudioFrames(), 1440u);  // 30 ms or more at 48 kHz
    EXPECT_LE(output->lastAudioFrames(), std::uint32_t(atMost * 48000) + 1);
}

TEST_F(OutputObjectTest, DeckLinkSettingsReachTheCard)
{
    auto output = make(KavioVideoOutputTypeDeckLink);
    auto device = attachCard(output);

    // The format of the mode, then the first audio format with enough channels.
    output->setDecklinkFormat(decklink::fourCC("Hi50"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return device->activeAudioFormat().has_value(); }, kTimeout));
    device->flush();
    EXPECT_EQ(device->activeVideoFormat()->displayMode, decklink::fourCC("Hi50"));
    EXPECT_EQ(output->outputChannels(), 2);

    // None has the channels asked: the last one.
    device->setPlaybackAudioFormats({{2, 48000, 16}, {6, 48000, 16}});
    UserDefaults::standardUserDefaults().setInteger(8, "audioChannels");
    output->audioChannelsChanged();
    EXPECT_EQ(output->audioChannels(), 8);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output->outputChannels() == 6; }, kTimeout));
    UserDefaults::standardUserDefaults().removeObjectForKey("audioChannels");

    // Keying: accepted "Internal" sends RGBA; a refused "None" still goes back to YUV.
    output->setDecklinkKeyer("Internal");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output->decklinkKeyer() == "Internal"; }, kTimeout));
    EXPECT_FALSE(output->convertToYUV());
    EXPECT_EQ(device->activeKeyingMode(), decklink::KeyingMode::Internal);
    device->failNextActivation();
    output->setDecklinkKeyer("None");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output->convertToYUV(); }, kTimeout));
    device->flush();
    EXPECT_EQ(output->decklinkKeyer(), "Internal") << "a refusal keeps the keyer";

    // Audio of each frame reaches the card while the output is on.
    output->setFramerate({30000, 1001, 0});
    output->orderFront();
    for (int i = 0; i < 10; ++i)
        output->handleAudioOutput();
    EXPECT_EQ(device->audioFramesPlayed(), 16016u);
    EXPECT_EQ(device->lastAudioBlock().size(), 1607u * 6);
}

TEST_F(OutputObjectTest, NDIOutputFramesArriveAtTheRenderSizeInThePicturesColour)
{
    auto output = make(KavioVideoOutputTypeNDI);
    ASSERT_TRUE(output->ndiSender());
    output->orderFront();
    StrevalDirectory directory(ndi::NdiBackend::shared(), false);
    const QString name = QString::fromStdString(NdiLoopbackBackend::fullSourceName("Kavio NDI #7"));
    const QVariantList found = directory.serversMatchingName(name);
    ASSERT_EQ(found.size(), 1);
    auto made = QVTNDIReceiver::initWithSource(found[0].toMap(), false);
    ASSERT_TRUE(made);
    // Received as an NDI cue reads it.
    auto receiver = std::make_unique<KavioNDIReceiverSource>(made);
    VideoFrameRef frame;
    const auto red = solid(64, 36, kRed);
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            renderFrame([&] { output->renderWithTexture(red, nullptr, false, {64, 36}, 0, 0); });
            frame = receiver->pixelBuffer();
            return frame != nullptr;
        },
        kTimeout));
    EXPECT_EQ(frame->width(), 64);
    EXPECT_EQ(frame->height(), 36);
    EXPECT_EQ(frame->pixelFormat(), MediaPixelFormat::YUV422_8);
    const uint8_t* middle = frame->row(18) + 32 * 2;
    EXPECT_NEAR(middle[1], 63, 2);
    EXPECT_NEAR(middle[2], 240, 2);
    EXPECT_TRUE(receiver->isYUV());
    EXPECT_FALSE(receiver->hasAlpha());
    receiver.reset();

    // Another kind drops the sender and its source.
    output->setVideoOutputType(KavioVideoOutputTypeScreen);
    EXPECT_FALSE(output->ndiSender());
    EXPECT_TRUE(directory.serversMatchingName(name).isEmpty());
}

TEST_F(OutputObjectTest, AReceiverTakingTheOutputOnProgramIsAnnounced)
{
    auto output = make(KavioVideoOutputTypeNDI);
    output->orderFront();
    StrevalDirectory directory(ndi::NdiBackend::shared(), false);
    const QVariantList found =
        directory.serversMatchingName(QString::fromStdString(NdiLoopbackBackend::fullSourceName("Kavio NDI #7")));
    ASSERT_EQ(found.size(), 1);
    auto receiver = QVTNDIReceiver::initWithSource(found[0].toMap(), false);
    ASSERT_TRUE(receiver);
    std::vector<bool> states;
    NotificationCenter::defaultCenter().addObserver(&states, QVTNDISender::kTallyStateChangeNotification,
                                                    output->ndiSender().get(), [&](const Notification& n) {
                                                        states.push_back(n.userInfo.value(QVTNDISender::kStateKey).toBool());
                                                    });
    const auto red = solid(64, 36, kRed);
    receiver->setTally(true, false);
    // The tally is polled once a frame.
    EXPECT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            renderFrame([&] { output->renderWithTexture(red, nullptr, false, {64, 36}, 0, 0); });
            return !states.empty();
        },
        kTimeout));
    receiver->setTally(false, true);
    EXPECT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            renderFrame([&] { output->renderWithTexture(red, nullptr, false, {64, 36}, 0, 0); });
            return states.size() >= 2;
        },
        kTimeout));
    NotificationCenter::defaultCenter().removeObserver(&states);
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    receiver->removeResources();
}

TEST_F(OutputObjectTest, DeckLinkOutputPlaysAtItsFormatsSize)
{
    auto output = make(KavioVideoOutputTypeDeckLink, {0, 0, 720, 486});
    auto device = attachCard(output);
    output->orderFront();
    const auto blue = solid(720, 486, kBlue);
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            renderFrame([&] { output->renderWithTexture(blue, nullptr, false, {720, 486}, 0, 0); });
            return device->framesPlayed() > 0;
        },
        kTimeout));
    const auto played = device->lastPixelBuffer();
    EXPECT_EQ(played->width, 720);
    EXPECT_EQ(played->height, 486);
    EXPECT_EQ(played->pixelFormat, decklink::kPixelFormat2vuy);
    EXPECT_NEAR(played->bytes[size_t(243) * played->bytesPerRow + 1], 32, 2) << "blue's luma";
}

// --- The format tables on the manager -----------------------------------------------------------

namespace {

class FormatsTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        auto& defaults = UserDefaults::standardUserDefaults();
        for (const char* key : {"useHighBitDepthRendering", "videoOutputSetup", "lastUsedFormat_NDI",
                                "lastUsedFormat_BMD", "autoFullscreen"})
            defaults.removeObjectForKey(key);
        outputs = std::make_unique<KavioVideoOutputManager>(*manager, nullptr);
        outputs->initManager();
        ASSERT_EQ(outputs->outputObjects().size(), 1u);
        output = outputs->outputObjects()[0];
    }
    void TearDown() override { outputs.reset(); }
    KavioOutputSetupControls& ui() { return outputs->controls(); }
    static QString name(const QVariant& row) { return row.toMap().value("displayName").toString(); }

    std::unique_ptr<KavioVideoOutputManager> outputs;
    std::shared_ptr<KavioVideoOutputObject> output;
};

}  // namespace

TEST_F(FormatsTest, TablesAndTheirFallbacks)
{
    const QVariantList ndi = outputs->ndiOutputFormats();
    ASSERT_EQ(ndi.size(), 16);
    EXPECT_EQ(name(ndi.first()), "YUV - 23.98fps");
    EXPECT_EQ(name(ndi[7]), "YUV - 60fps");
    EXPECT_EQ(name(ndi.last()), "RGBA - 60fps");
    EXPECT_EQ(ndi[3].toMap(), (QVariantMap{{"displayName", "YUV - 29.97fps"}, {"timeValue", 30000}, {"timeScale", 1001},
                                          {"format", "yuv"}}));
    const QVariantList cards = KavioVideoOutputManager::decklinkOutputFormats();
    ASSERT_EQ(cards.size(), 54);
    EXPECT_EQ(name(cards.first()), "NTSC");
    EXPECT_EQ(cards.first().toMap().value("bmdDisplayMode").toUInt(), 0x6E747363u);
    EXPECT_EQ(name(cards.last()), "4320p 60fps");
    EXPECT_EQ(cards.last().toMap().value("renderWidth").toInt(), 7680);
    std::set<uint> codes;
    for (const QVariant& row : cards)
        codes.insert(row.toMap().value("bmdDisplayMode").toUInt());
    EXPECT_EQ(codes.size(), 54u) << "every mode once";

    output->setVideoOutputType(KavioVideoOutputTypeNDI);
    outputs->applyScreenNameAndInfo({"NDI™", {}}, output);
    EXPECT_EQ(ui().outputFormatPopup->numberOfItems(), 16);
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "YUV - 30fps");

    UserDefaults::standardUserDefaults().setBool(true, "useHighBitDepthRendering");
    auto deep = std::make_unique<KavioVideoOutputManager>(*manager, nullptr);
    deep->initManager();
    const QVariantList p216 = deep->ndiOutputFormats();
    ASSERT_EQ(p216.size(), 8);
    EXPECT_EQ(name(p216.first()), "P216 - 23.98fps");
    EXPECT_EQ(p216.first().toMap().value("format"), "p216");
    deep->fallbackToDefaultNDIOutputFormat();
    EXPECT_EQ(deep->controls().outputFormatPopup->titleOfSelectedItem(), "Unavailable")
        << "nothing to select before binding";
    deep->applyScreenNameAndInfo({"NDI™", {}}, deep->outputObjects()[0]);
    EXPECT_EQ(deep->controls().outputFormatPopup->titleOfSelectedItem(), "P216 - 30fps");
    deep.reset();
    UserDefaults::standardUserDefaults().removeObjectForKey("useHighBitDepthRendering");
}

TEST_F(FormatsTest, ApplyingRowsByName)
{
    output->setVideoOutputType(KavioVideoOutputTypeNDI);
    outputs->applyNDIOutputFormatByName("RGBA - 25fps", 1);
    EXPECT_EQ(output->framerate().timeValue, 25000);
    EXPECT_EQ(output->framerate().timeScale, 1000);
    EXPECT_FALSE(output->convertToYUV());
    EXPECT_EQ(output->frame(), QRectF(QPointF(0, 0), outputs->renderResolution()));
    EXPECT_EQ(output->videoOutputFormatString(), "RGBA - 25fps");

    // Unknown names (a P216 row without high bit depth too) change nothing.
    for (const char* unknown : {"P216 - 25fps", "YUV - 26fps", ""})
        outputs->applyNDIOutputFormatByName(unknown, 1);
    outputs->applyDecklinkOutputFormatByName("1080p 26fps", 1);
    EXPECT_EQ(output->framerate().timeValue, 25000);
    EXPECT_EQ(output->videoOutputFormatString(), "RGBA - 25fps");

    output->setVideoOutputType(KavioVideoOutputTypeDeckLink);
    auto device = std::make_shared<VirtualDeckLinkDevice>("Virtual DeckLink 1", 1);
    output->setDecklinkOutputDevice(device);
    outputs->applyDecklinkOutputFormatByName("1080i 50fps", 1);
    EXPECT_EQ(output->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(output->framerate().timeValue, 25000);
    EXPECT_EQ(output->framerate().timeScale, 1000);
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] { return device->activeVideoFormat() && device->activeVideoFormat()->displayMode == decklink::fourCC("Hi50"); },
        kTimeout));
    outputs->applyDecklinkOutputFormatByName("NTSC", 1);
    EXPECT_EQ(output->frame(), QRectF(0, 0, 720, 486));
    EXPECT_EQ(output->framerate().timeValue, 30000);
    EXPECT_EQ(output->framerate().timeScale, 1001);

    // A card lists a mode once per pixel format it plays it in, and not its v210-only modes.
    device->setPlaybackVideoFormats({{decklink::fourCC("Hp25"), decklink::kPixelFormat2vuy},
                                     {decklink::fourCC("Hp25"), decklink::kPixelFormatBGRA},
                                     {decklink::fourCC("Hp50"), decklink::kPixelFormatV210},
                                     {decklink::fourCC("zzzz"), decklink::kPixelFormat2vuy},
                                     {decklink::fourCC("ntsc"), decklink::kPixelFormatARGB32}});
    std::vector<QString> titles;
    for (const auto& item : outputs->supportedDecklinkFormatForDevice(*device))
        titles.push_back(item.title);
    EXPECT_EQ(titles, (std::vector<QString>{"1080p 25fps", "1080p 25fps", "NTSC"}));
}

TEST_F(FormatsTest, FormatAndKeyerChangesUndo)
{
    output->setVideoOutputType(KavioVideoOutputTypeNDI);
    outputs->applyScreenNameAndInfo({"NDI™", {}}, output);
    outputs->undoChangeOutputFormat("YUV - 25fps", 1);
    outputs->undoChangeOutputFormat("YUV - 50fps", 1);
    auto& defaults = UserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults.stringForKey("lastUsedFormat_NDI"), "YUV - 50fps");
    EXPECT_EQ(output->framerate().timeValue, 50000);
    outputs->undoManager().undo();
    EXPECT_EQ(outputs->undoManager().redoActionName(), "Change Output Format");
    EXPECT_EQ(output->videoOutputFormatString(), "YUV - 25fps");
    EXPECT_EQ(output->framerate().timeValue, 25000);
    EXPECT_EQ(defaults.stringForKey("lastUsedFormat_NDI"), "YUV - 25fps");

    // The keyer of a card.
    output->setVideoOutputType(KavioVideoOutputTypeDeckLink);
    auto device = std::make_shared<VirtualDeckLinkDevice>("Virtual DeckLink 1", 1);
    output->setDecklinkOutputDevice(device);
    ui().outputKeyerPopup->removeAllItems();
    for (const char* title : {"None", "Internal", "External"})
        ui().outputKeyerPopup->addItemWithTitle(title);
    ui().outputKeyerPopup->selectItemAtIndex(0);
    ui().outputKeyerPopup->cacheToOldValue();
    outputs->undoChangeOutputKeyer("Internal", 1);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output->decklinkKeyer() == "Internal"; }, kTimeout));
    EXPECT_EQ(ui().outputKeyerPopup->titleOfSelectedItem(), "Internal");
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Change Keyer");
    outputs->undoManager().undo();
    EXPECT_EQ(ui().outputKeyerPopup->titleOfSelectedItem(), "None");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output->decklinkKeyer() == "None"; }, kTimeout));
    EXPECT_TRUE(output->convertToYUV());
}

TEST_F(FormatsTest, ACardDestinationListsItsRowsAndKeyers)
{
    KavioDeckLinkBrowser cards(std::make_unique<decklink::VirtualDeckLinkBrowser>(2));
    outputs->setDeckLinkBrowser(&cards);
    const auto names = outputs->textureTypeOutputNames();
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0].title, "Virtual DeckLink 1");
    EXPECT_EQ(names[1].title, "Virtual DeckLink 2");
    EXPECT_EQ(names[2].title, "NDI™");

    UserDefaults::standardUserDefaults().setString("1080p 25fps", "lastUsedFormat_BMD");
    outputs->applyScreenNameAndInfo({"Virtual DeckLink 2", {}}, output);
    EXPECT_EQ(output->videoOutputType(), KavioVideoOutputTypeDeckLink);
    ASSERT_TRUE(output->decklinkOutput());
    const auto device = cards.deviceWithName("Virtual DeckLink 2");
    EXPECT_EQ(output->decklinkOutput()->outputDevice(), device);
    EXPECT_EQ(ui().outputFormatPopup->numberOfItems(), 54 * 2) << "each mode in '2vuy' and 'BGRA', not in 'v210'";
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "1080p 25fps");
    EXPECT_EQ(ui().outputKeyerPopup->numberOfItems(), 3);
    EXPECT_EQ(output->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(output->framerate().timeValue, 25000);
    outputs->checkOutputsForBestRenderMethod();
    EXPECT_TRUE(outputs->hasBlackmagicOrNDIOutput());
    UserDefaults::standardUserDefaults().removeObjectForKey("lastUsedFormat_BMD");
    outputs.reset();  // before the list it was given
}
